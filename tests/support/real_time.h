// Helpers for tests that run on real time against real ttys: a stopwatch,
// the receive time-outs they wait with, and a pty's path as a port name.
#pragma once

#include <chrono>
#include <string>

namespace bplink::testing {

class Stopwatch {
 public:
  long long ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
        .count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Receive time-outs for tests: a short one whose cost is measured, and a
// long one that only a failure to notice a dead line would run out.
inline constexpr unsigned kShortTimeoutMs = 150;
inline constexpr unsigned kLongTimeoutMs = 5000;
// How much longer than asked a wait may take on a loaded machine.
inline constexpr long long kSchedulingSlackMs = 1500;

// A pty's path as the wide string the serial port takes.
inline std::wstring Wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

}  // namespace bplink::testing
