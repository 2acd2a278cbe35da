// bplink::Env: everything the library asks of the machine besides the device
// link itself: pauses, the local clock, and the serial ports to search.
//
// Production code never sleeps, reads the clock or probes a port directly;
// it asks CurrentEnv(). Tests install an Env with a virtual clock, a fixed
// local time and simulated ports, so a transfer that takes minutes on a wire
// runs in microseconds.
#pragma once

#include <bplink/export.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bplink {

// A local calendar value, as the devices count time.
struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;

  friend bool operator==(const CalendarTime&, const CalendarTime&) = default;
};

class BPLINK_API Env {
 public:
  virtual ~Env() = default;
  virtual void Sleep(unsigned milliseconds) = 0;                 // every pause the protocols make
  virtual CalendarTime LocalTime() = 0;                          // the PC clock stamped into uploads
  virtual std::vector<std::wstring> ComPortNames() = 0;          // serial ports to try, in search order
  virtual bool CanOpenComPort(const std::wstring& path) = 0;    // the probe that keeps a port listed
  static Env* Default();                                         // the real machine
};

BPLINK_API Env* CurrentEnv();        // what the library uses now
BPLINK_API void SetEnv(Env* env);    // tests and hosts install their own; nullptr restores Default()
// "\\.\COM3" on Windows; on Linux the name is a device node under /dev.
BPLINK_API std::wstring ComPortPath(const std::wstring& name);

// Calendar arithmetic, on the proleptic Gregorian calendar, with carry over
// days, months and years. The fields of an invalid value are carried as
// std::chrono would carry them; check IsValidTime first where that matters.
BPLINK_API bool IsValidTime(const CalendarTime& t);
BPLINK_API CalendarTime AddSeconds(const CalendarTime& t, std::int64_t seconds);
BPLINK_API CalendarTime AddMinutes(const CalendarTime& t, std::int64_t minutes);
// Whole seconds from `from` to `to` (negative when `to` is earlier).
BPLINK_API std::int64_t SecondsBetween(const CalendarTime& from, const CalendarTime& to);

}  // namespace bplink
