#include "web_timing.h"

#include <algorithm>
#include <cmath>

namespace bplink::bench {

double Percentile(std::vector<double> ms, double p) {
  if (ms.empty()) return 0;
  std::sort(ms.begin(), ms.end());
  const double at = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(ms.size() - 1);
  const auto below = static_cast<std::size_t>(std::floor(at));
  const std::size_t above = std::min(below + 1, ms.size() - 1);
  return ms[below] + (ms[above] - ms[below]) * (at - static_cast<double>(below));
}

Spread SpreadOf(const std::vector<double>& ms) {
  Spread s;
  s.count = ms.size();
  if (ms.empty()) return s;
  s.median_ms = Percentile(ms, 50);
  s.p95_ms = Percentile(ms, 95);
  s.max_ms = *std::max_element(ms.begin(), ms.end());
  return s;
}

std::vector<double> DelaysFromLatestRecord(const std::vector<WebClock::time_point>& records,
                                           const std::vector<WebClock::time_point>& events) {
  std::vector<double> delays;
  for (const WebClock::time_point event : events) {
    // The first record after the event; the one before it is the latest.
    const auto after = std::upper_bound(records.begin(), records.end(), event);
    if (after == records.begin()) continue;
    delays.push_back(std::chrono::duration<double, std::milli>(event - *std::prev(after)).count());
  }
  return delays;
}

std::vector<StreamEvent> EventStreamReader::Feed(std::string_view piece) {
  std::vector<StreamEvent> out;
  for (const char c : piece) {
    // A CR ends a line; an LF straight after it belongs to the same end.
    if (c == '\n' && after_cr_) {
      after_cr_ = false;
      continue;
    }
    after_cr_ = c == '\r';
    if (c == '\n' || c == '\r') {
      Line(pending_, out);
      pending_.clear();
    } else {
      pending_ += c;
    }
  }
  return out;
}

void EventStreamReader::Line(std::string_view line, std::vector<StreamEvent>& out) {
  if (line.empty()) {
    if (has_data_) out.push_back({name_.empty() ? "message" : name_, data_});
    name_.clear(), data_.clear();
    has_data_ = false;
    return;
  }
  if (line.front() == ':') return;
  const std::size_t colon = line.find(':');
  const std::string_view field = line.substr(0, colon);
  std::string_view value = colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
  if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  if (field == "event") {
    name_ = value;
  } else if (field == "data") {
    if (has_data_) data_ += '\n';
    data_ += value;
    has_data_ = true;
  }
}

}  // namespace bplink::bench
