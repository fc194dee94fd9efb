// Which part of the status bar's line has to be drawn again when the line
// changes. During a fade the line changes ten times a second, and only the
// level and the time left change in it; drawing those few characters instead
// of the whole bar is most of what keeps the fade's CPU near its floor (the
// bar's pixels travel to the X server at each drawing, under Wine too).
//
// Both backends draw the line with these positions: centred on a whole
// pixel, each glyph at the sum of the advances before it, so that a part
// drawn alone lands exactly where the whole line's drawing would put it.
#pragma once

#include <cstdint>
#include <span>

// A line as its font lays it out: one glyph (or character) and its advance
// in pixels for each drawn unit.
struct LineGlyphs {
  std::span<const std::uint32_t> glyphs;
  std::span<const double> advances;
};

// [from, to) in pixels from the field's left edge; nothing when from >= to.
struct LineSpan {
  int from = 0;
  int to = 0;
};

// Where a line of WIDTH pixels starts when centred in a field of FIELD pixels.
int CentredLineLeft(double width, int field);

double LineWidth(const LineGlyphs& line);

// What changes when BEFORE gives way to AFTER in a field of FIELD pixels:
// the glyphs that differ, or the whole of both lines when the line's width
// changed (everything in it moved). The span reaches a couple of pixels past
// them, where a glyph's ink may overhang its advance, and stays in the field.
LineSpan ChangedLineSpan(const LineGlyphs& before, const LineGlyphs& after, int field);
