#include "fade_stats.h"

#include <algorithm>
#include <cmath>

#include "sim_osc.h"

namespace sim {

double NearestRankPercentile(std::vector<double> values, double percent) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  double rank = std::ceil(percent / 100.0 * static_cast<double>(values.size()));
  size_t index = rank < 1.0 ? 0 : static_cast<size_t>(rank) - 1;
  return values[std::min(index, values.size() - 1)];
}

FadeSummary Summarise(const Fade& fade) {
  const std::vector<FadeMessage>& m = fade.messages;
  FadeSummary s;
  s.fader = fade.fader;
  s.count = static_cast<int>(m.size());
  s.first = m.front().level;
  s.last = m.back().level;
  s.lowest = std::min_element(m.begin(), m.end(), [](auto& a, auto& b) { return a.level < b.level; })->level;
  s.port = m.front().port;
  s.mixedPorts = std::any_of(m.begin(), m.end(), [&](const FadeMessage& x) { return x.port != s.port; });
  s.startUs = m.front().us;
  s.endUs = m.back().us;
  std::vector<double> intervalsMs;
  for (size_t k = 1; k < m.size(); ++k) intervalsMs.push_back(static_cast<double>(m[k].us - m[k - 1].us) / 1000.0);
  if ((s.hasIntervals = !intervalsMs.empty())) {
    s.meanIntervalMs = static_cast<double>(s.endUs - s.startUs) / 1000.0 / static_cast<double>(intervalsMs.size());
    s.p99IntervalMs = NearestRankPercentile(intervalsMs, 99.0);
    s.maxIntervalMs = *std::max_element(intervalsMs.begin(), intervalsMs.end());
  }
  if ((s.hasLatency = fade.stimulusUs >= 0)) {
    s.captureLatencyMs = static_cast<double>(s.startUs - fade.stimulusUs) / 1000.0;
    s.stimulus = fade.stimulus;
  }
  return s;
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
  // Times to the microsecond the clock counts in.
  auto ms = [](bool has, double v) { return has ? Json(std::round(v * 1000.0) / 1000.0) : Json(); };
  return JsonLine(Json{{"fader", s.fader},
                       {"address", FaderAddress(s.fader)},
                       {"count", s.count},
                       {"first", JsonNumber(s.first)},
                       {"last", JsonNumber(s.last)},
                       {"lowest", JsonNumber(s.lowest)},
                       {"mean_interval_ms", ms(s.hasIntervals, s.meanIntervalMs)},
                       {"p99_interval_ms", ms(s.hasIntervals, s.p99IntervalMs)},
                       {"max_interval_ms", ms(s.hasIntervals, s.maxIntervalMs)},
                       {"capture_latency_ms", ms(s.hasLatency, s.captureLatencyMs)},
                       {"stimulus", s.hasLatency ? JsonText(s.stimulus) : Json()},
                       {"port", s.port},
                       {"mixed_ports", s.mixedPorts},
                       {"start_us", s.startUs},
                       {"end_us", s.endUs}});
}

}  // namespace sim
