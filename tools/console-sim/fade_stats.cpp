#include "fade_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
  lastUs_ = nowUs;
  intervalsMs_.clear();
  summary_ = FadeSummary{};
  summary_.fader = fader;
  summary_.count = 1;
  summary_.first = summary_.last = summary_.lowest = level;
  summary_.port = port;
  summary_.startUs = summary_.endUs = nowUs;
  if (stimulusUs >= 0) {
    summary_.hasLatency = true;
    summary_.captureLatencyMs = static_cast<double>(nowUs - stimulusUs) / 1000.0;
    summary_.stimulus = stimulus;
  }
}

void FadeRun::Add(int64_t nowUs, float level, int port) {
  intervalsMs_.push_back(static_cast<double>(nowUs - lastUs_) / 1000.0);
  lastUs_ = nowUs;
  summary_.count += 1;
  summary_.last = level;
  if (level < summary_.lowest) summary_.lowest = level;
  if (port != summary_.port) summary_.mixedPorts = true;
  summary_.endUs = nowUs;
}

FadeSummary FadeRun::Finish() {
  active_ = false;
  if (!intervalsMs_.empty()) {
    double sum = 0.0;
    for (double v : intervalsMs_) sum += v;
    summary_.hasIntervals = true;
    summary_.meanIntervalMs = sum / static_cast<double>(intervalsMs_.size());
    summary_.p99IntervalMs = NearestRankPercentile(intervalsMs_, 99.0);
    summary_.maxIntervalMs = *std::max_element(intervalsMs_.begin(), intervalsMs_.end());
  }
  return summary_;
}

namespace {

std::string Level(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
  return text;
}

std::string Ms(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

}  // namespace

std::string FormatSummaryText(const FadeSummary& s) {
  std::string text = "fade " + FaderName(s.fader) + ": " + std::to_string(s.count) +
                     (s.count == 1 ? " message, " : " messages, ") + Level(s.first) + " -> " + Level(s.last);
  if (s.hasIntervals) {
    text += ", interval mean " + Ms(s.meanIntervalMs) + " ms p99 " + Ms(s.p99IntervalMs) + " ms max " +
            Ms(s.maxIntervalMs) + " ms";
  } else {
    text += ", no interval";
  }
  if (s.hasLatency) {
    text += ", capture latency " + Ms(s.captureLatencyMs) + " ms";
  } else {
    text += ", no capture latency";
  }
  text += ", from port " + std::to_string(s.port);
  if (s.mixedPorts) text += " and others";
  return text;
}

std::string FormatSummaryJson(const FadeSummary& s) {
  auto msOrNull = [](bool has, double v) { return has ? JsonNumber(v, 6) : std::string("null"); };
  std::string json = "{\"fader\":" + std::to_string(s.fader) + ",\"address\":" + JsonString(FaderAddress(s.fader)) +
                     ",\"count\":" + std::to_string(s.count) + ",\"first\":" + JsonNumber(s.first) +
                     ",\"last\":" + JsonNumber(s.last) + ",\"lowest\":" + JsonNumber(s.lowest) +
                     ",\"mean_interval_ms\":" + msOrNull(s.hasIntervals, s.meanIntervalMs) +
                     ",\"p99_interval_ms\":" + msOrNull(s.hasIntervals, s.p99IntervalMs) +
                     ",\"max_interval_ms\":" + msOrNull(s.hasIntervals, s.maxIntervalMs) +
                     ",\"capture_latency_ms\":" + msOrNull(s.hasLatency, s.captureLatencyMs) +
                     ",\"stimulus\":" + (s.hasLatency ? JsonString(s.stimulus) : std::string("null")) +
                     ",\"port\":" + std::to_string(s.port) + ",\"mixed_ports\":" + (s.mixedPorts ? "true" : "false") +
                     ",\"start_us\":" + std::to_string(s.startUs) + ",\"end_us\":" + std::to_string(s.endUs) + "}";
  return json;
}

}  // namespace sim
