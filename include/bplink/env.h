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
  int year = 0;    // e.g. 2026
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..59

  friend bool operator==(const CalendarTime&, const CalendarTime&) = default;
};

// The library calls an Env on the thread that runs the operation asking for
// it; one transfer runs at a time, so an Env installed for the library sees
// one caller at a time unless the host itself shares it between threads.
class BPLINK_API Env {
 public:
  virtual ~Env();  // out of line: its vtable has one home, the library
  // Every pause the protocols make: blocks the calling thread for about
  // `milliseconds`. Cannot fail.
  virtual void Sleep(unsigned milliseconds) = 0;
  // The PC clock stamped into uploads: the local calendar time now. Cannot
  // fail.
  virtual CalendarTime LocalTime() = 0;
  // Serial ports to try, in search order, as names ComPortPath turns into
  // paths. The caller owns the list. May throw bplink::ComPortError when the
  // system cannot be asked; EnumerateComPorts passes that on to its callers,
  // which catch it.
  virtual std::vector<std::wstring> ComPortNames() = 0;
  // The probe that keeps a port listed: true when `path` can be opened now
  // for reading and writing, exclusively, as CDevice_COM would hold it. The
  // port is closed again before it returns. False for any failure (missing,
  // held by another program, not allowed); it says no more, since a port
  // search only skips such ports. Never throws.
  virtual bool CanOpenComPort(const std::wstring& path) = 0;
  // The real machine. Never null; lives until the process ends, so it may be
  // used during static teardown. Safe to call from any thread, and its
  // calls are safe from any thread.
  static Env* Default();
};

// An Env that forwards every call to another one, so an implementation
// overrides only the calls it cares about:
//
//   // The machine as it is, except that its only serial port is this one.
//   class OnePortEnv : public bplink::EnvWrapper {
//    public:
//     explicit OnePortEnv(std::wstring path) : EnvWrapper(Env::Default()), path_(std::move(path)) {}
//     std::vector<std::wstring> ComPortNames() override { return {path_}; }
//    private:
//     std::wstring path_;
//   };
//
// Ownership: the wrapper does not own its target, which must outlive it.
// Threads: it adds no state and no locking; each call is as safe to make
// from several threads as the target's. Failure: each call fails (or
// throws) exactly as the target's does.
class BPLINK_API EnvWrapper : public Env {
 public:
  // `target` must not be null.
  explicit EnvWrapper(Env* target) : target_(target) {}
  ~EnvWrapper() override;

  // The Env every call goes to.
  Env* target() const { return target_; }

  void Sleep(unsigned milliseconds) override { target_->Sleep(milliseconds); }
  CalendarTime LocalTime() override { return target_->LocalTime(); }
  std::vector<std::wstring> ComPortNames() override { return target_->ComPortNames(); }
  bool CanOpenComPort(const std::wstring& path) override { return target_->CanOpenComPort(path); }

 private:
  Env* target_;
};

// What the library uses now: the installed Env, else Default(). Never null.
BPLINK_API Env* CurrentEnv();
// Tests and hosts install their own; nullptr restores Default(). The library
// does not own `env`, which must stay alive until it is replaced and no
// operation is running that may still use it. Safe from any thread; an
// operation running meanwhile may reach either Env.
BPLINK_API void SetEnv(Env* env);
// "\\.\COM3" on Windows; on Linux the name is a device node under /dev.
BPLINK_API std::wstring ComPortPath(const std::wstring& name);

// Calendar arithmetic, on the proleptic Gregorian calendar, with carry over
// days, months and years. The fields of an invalid value are carried as
// std::chrono would carry them; check IsValidTime first where that matters.
BPLINK_API bool IsValidTime(const CalendarTime& t);  // a real date and time of day
BPLINK_API CalendarTime AddSeconds(const CalendarTime& t, std::int64_t seconds);  // t plus seconds (may be negative)
BPLINK_API CalendarTime AddMinutes(const CalendarTime& t, std::int64_t minutes);  // t plus minutes (may be negative)
// Whole seconds from `from` to `to` (negative when `to` is earlier).
BPLINK_API std::int64_t SecondsBetween(const CalendarTime& from, const CalendarTime& to);

}  // namespace bplink
