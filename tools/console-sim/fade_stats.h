// A fade as the console sees it: a run of fader-level messages for one fader,
// ended by a quiet gap. Collects the pace figures printed when the fade ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct FadeSummary {
  int fader = -1;
  int count = 0;
  float first = 0.0f;
  float last = 0.0f;
  float lowest = 0.0f;
  bool hasIntervals = false;  // needs two messages or more
  double meanIntervalMs = 0.0;
  double p99IntervalMs = 0.0;
  double maxIntervalMs = 0.0;
  bool hasLatency = false;  // a report went out before the first message
  double captureLatencyMs = 0.0;
  std::string stimulus;     // the command whose report preceded the fade
  int port = 0;             // source port of the first message
  bool mixedPorts = false;  // some message came from another port
  int64_t startUs = 0;
  int64_t endUs = 0;  // the latest message so far
};

// Nearest-rank percentile (percent in 0..100) of values; 0 for no values.
double NearestRankPercentile(std::vector<double> values, double percent);

class FadeRun {
 public:
  bool Active() const { return active_; }
  // The figures so far; those of the intervals come with Finish.
  const FadeSummary& Summary() const { return summary_; }

  // stimulusUs < 0: no report was sent since the previous fade.
  void Begin(int fader, int64_t nowUs, float level, int port, int64_t stimulusUs, const std::string& stimulus);
  void Add(int64_t nowUs, float level, int port);
  // Ends the run and returns its figures.
  FadeSummary Finish();

 private:
  bool active_ = false;
  std::vector<double> intervalsMs_;
  FadeSummary summary_;
};

// "fade ch05: 34 messages, 0.8 -> 0.602, interval mean 10.05 ms p99 10.9 ms ..."
std::string FormatSummaryText(const FadeSummary& s);
// One JSON object, no newline.
std::string FormatSummaryJson(const FadeSummary& s);

}  // namespace sim
