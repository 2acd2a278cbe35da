// What web_bench computes from the times it takes: the spread of a series
// of durations, the delay from a device's record to the progress event
// that showed it, and the events of a Server-Sent Events stream as they
// arrive in pieces.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace bplink::bench {

using WebClock = std::chrono::steady_clock;

struct Spread {
  std::size_t count = 0;
  double median_ms = 0;
  double p95_ms = 0;
  double max_ms = 0;
};

// The p-th percentile (0..100) of `ms`, interpolated linearly between the
// two nearest ranks (the median of 1, 2, 3, 4 is 2.5). 0 for no values.
double Percentile(std::vector<double> ms, double p);
Spread SpreadOf(const std::vector<double>& ms);

// For each event, the milliseconds since the latest record handed out at or
// before it arrived. An event before the first record is no record's delay
// and gives none. Both series in the order they were taken.
std::vector<double> DelaysFromLatestRecord(const std::vector<WebClock::time_point>& records,
                                           const std::vector<WebClock::time_point>& events);

// One event of a stream: its name ("message" when none was given) and its
// data lines joined by '\n'.
struct StreamEvent {
  std::string name;
  std::string data;
};

// Reads text/event-stream as it comes, in pieces cut anywhere: an event is
// whole at the blank line after it; comments (": waiting") and events
// without data are none. Lines may end in LF, CR LF or CR.
class EventStreamReader {
 public:
  // The events this piece completed, in order.
  std::vector<StreamEvent> Feed(std::string_view piece);

 private:
  void Line(std::string_view line, std::vector<StreamEvent>& out);
  std::string pending_;  // a line not ended yet
  bool after_cr_ = false;
  std::string name_, data_;
  bool has_data_ = false;
};

}  // namespace bplink::bench
