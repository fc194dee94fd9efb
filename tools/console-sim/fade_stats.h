// A fade as the console sees it: a run of fader-level messages for one fader,
// ended by a quiet gap, and the pace figures printed when it ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct FadeMessage {
  int64_t us = 0;
  float level = 0.0f;
  int port = 0;  // its source port
};

struct Fade {
  int fader = -1;
  int64_t stimulusUs = -1;  // the report sent before the first message; -1: none since the last fade
  std::string stimulus;     // the command that sent it
  std::vector<FadeMessage> messages;
};

struct FadeSummary {
  int fader = -1;
  int count = 0;
  float first = 0.0f, last = 0.0f, lowest = 0.0f;
  bool hasIntervals = false;  // needs two messages or more
  double meanIntervalMs = 0.0, p99IntervalMs = 0.0, maxIntervalMs = 0.0;
  bool hasLatency = false;
  double captureLatencyMs = 0.0;
  std::string stimulus;
  int port = 0;             // source port of the first message
  bool mixedPorts = false;  // some message came from another port
  int64_t startUs = 0, endUs = 0;
};

// Nearest-rank percentile (percent in 0..100) of values; 0 for no values.
double NearestRankPercentile(std::vector<double> values, double percent);
// The figures of a fade of one message or more.
FadeSummary Summarise(const Fade& fade);
// "fade ch05: 34 messages, 0.8 -> 0.602, interval mean 10.05 ms p99 10.9 ms ..."
std::string FormatSummaryText(const FadeSummary& s);
// One JSON object, no newline.
std::string FormatSummaryJson(const FadeSummary& s);

}  // namespace sim
