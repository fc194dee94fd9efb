#include "fade_stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "sim_osc.h"

namespace sim {

double NearestRankPercentile(std::vector<double> values, double percent) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  double rank = std::ceil(percent / 100.0 * static_cast<double>(values.size()));
  size_t index = rank < 1.0 ? 0 : static_cast<size_t>(rank) - 1;
  return values[std::min(index, values.size() - 1)];
}

void FadeRun::Begin(int fader, int64_t nowUs, float level, int port, int64_t stimulusUs, const std::string& stimulus) {
  active_ = true;
  intervalsMs_.clear();
  const bool reported = stimulusUs >= 0;
  summary_ = FadeSummary{.fader = fader,
                         .count = 1,
                         .first = level,
                         .last = level,
                         .lowest = level,
                         .hasLatency = reported,
                         .captureLatencyMs = reported ? static_cast<double>(nowUs - stimulusUs) / 1000.0 : 0.0,
                         .stimulus = reported ? stimulus : "",
                         .port = port,
                         .startUs = nowUs,
                         .endUs = nowUs};
}

void FadeRun::Add(int64_t nowUs, float level, int port) {
  intervalsMs_.push_back(static_cast<double>(nowUs - summary_.endUs) / 1000.0);
  summary_.endUs = nowUs;
  summary_.count += 1;
  summary_.last = level;
  summary_.lowest = std::min(summary_.lowest, level);
  summary_.mixedPorts |= port != summary_.port;
}

FadeSummary FadeRun::Finish() {
  active_ = false;
  if (!intervalsMs_.empty()) {
    summary_.hasIntervals = true;
    summary_.meanIntervalMs =
        std::accumulate(intervalsMs_.begin(), intervalsMs_.end(), 0.0) / static_cast<double>(intervalsMs_.size());
    summary_.p99IntervalMs = NearestRankPercentile(intervalsMs_, 99.0);
    summary_.maxIntervalMs = *std::max_element(intervalsMs_.begin(), intervalsMs_.end());
  }
  return summary_;
}

std::string FormatSummaryText(const FadeSummary& s) {
  std::string text = Printf("fade %s: %d message%s, %.6g -> %.6g", FaderName(s.fader).c_str(), s.count,
                            s.count == 1 ? "" : "s", static_cast<double>(s.first), static_cast<double>(s.last));
  text += s.hasIntervals ? Printf(", interval mean %.3f ms p99 %.3f ms max %.3f ms", s.meanIntervalMs, s.p99IntervalMs,
                                  s.maxIntervalMs)
                         : ", no interval";
  text += s.hasLatency ? Printf(", capture latency %.3f ms", s.captureLatencyMs) : ", no capture latency";
  return text + Printf(", from port %d%s", s.port, s.mixedPorts ? " and others" : "");
}

std::string FormatSummaryJson(const FadeSummary& s) {
  auto msOrNull = [](bool has, double v) { return has ? JsonNumber(v, 6) : std::string("null"); };
  return "{\"fader\":" + std::to_string(s.fader) + ",\"address\":" + JsonString(FaderAddress(s.fader)) +
         ",\"count\":" + std::to_string(s.count) + ",\"first\":" + JsonNumber(s.first) +
         ",\"last\":" + JsonNumber(s.last) + ",\"lowest\":" + JsonNumber(s.lowest) +
         ",\"mean_interval_ms\":" + msOrNull(s.hasIntervals, s.meanIntervalMs) +
         ",\"p99_interval_ms\":" + msOrNull(s.hasIntervals, s.p99IntervalMs) +
         ",\"max_interval_ms\":" + msOrNull(s.hasIntervals, s.maxIntervalMs) +
         ",\"capture_latency_ms\":" + msOrNull(s.hasLatency, s.captureLatencyMs) +
         ",\"stimulus\":" + (s.hasLatency ? JsonString(s.stimulus) : std::string("null")) +
         ",\"port\":" + std::to_string(s.port) + ",\"mixed_ports\":" + (s.mixedPorts ? "true" : "false") +
         ",\"start_us\":" + std::to_string(s.startUs) + ",\"end_us\":" + std::to_string(s.endUs) + "}";
}

}  // namespace sim
