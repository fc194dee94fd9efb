#include "ui/line_span.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr int kInkOverhang = 2;  // pixels a glyph's antialiased ink may reach past its advance

LineSpan Clamped(double from, double to, int field) {
  return {std::max(0, static_cast<int>(std::floor(from)) - kInkOverhang),
          std::min(field, static_cast<int>(std::ceil(to)) + kInkOverhang)};
}

}  // namespace

int CentredLineLeft(double width, int field) {
  return static_cast<int>(std::floor((field - width) / 2));
}

double LineWidth(const LineGlyphs& line) {
  return std::accumulate(line.advances.begin(), line.advances.end(), 0.0);
}

LineSpan ChangedLineSpan(const LineGlyphs& before, const LineGlyphs& after, int field) {
  const double oldWidth = LineWidth(before);
  const double newWidth = LineWidth(after);
  const int oldLeft = CentredLineLeft(oldWidth, field);
  const int newLeft = CentredLineLeft(newWidth, field);
  if (oldWidth != newWidth || oldLeft != newLeft) {
    return Clamped(std::min(oldLeft, newLeft), std::max(oldLeft + oldWidth, newLeft + newWidth), field);
  }
  // Same width, same start: the glyphs before the first difference stay
  // where they are, and so do those after the last one.
  const std::size_t shorter = std::min(before.glyphs.size(), after.glyphs.size());
  std::size_t first = 0;
  while (first < shorter && before.glyphs[first] == after.glyphs[first] &&
         before.advances[first] == after.advances[first]) {
    ++first;
  }
  if (first == before.glyphs.size() && first == after.glyphs.size()) return {};
  std::size_t same = 0;  // glyphs alike at the end, after the first difference
  while (same < before.glyphs.size() - first && same < after.glyphs.size() - first &&
         before.glyphs[before.glyphs.size() - 1 - same] == after.glyphs[after.glyphs.size() - 1 - same] &&
         before.advances[before.advances.size() - 1 - same] == after.advances[after.advances.size() - 1 - same]) {
    ++same;
  }
  const double from = oldLeft + std::accumulate(before.advances.begin(), before.advances.begin() + first, 0.0);
  const double tail = std::accumulate(before.advances.end() - same, before.advances.end(), 0.0);
  return Clamped(from, oldLeft + oldWidth - tail, field);
}
