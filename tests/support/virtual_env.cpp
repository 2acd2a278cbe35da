#include "virtual_env.h"

namespace bplink::testing {

VirtualEnv::VirtualEnv() : start_{2026, 1, 15, 9, 30, 0} {}

void VirtualEnv::Sleep(unsigned milliseconds) {
  const std::lock_guard lock(mutex_);
  elapsed_ms_ += milliseconds;
  sleeps_.push_back(milliseconds);
}

CalendarTime VirtualEnv::LocalTime() {
  const std::lock_guard lock(mutex_);
  return AddSeconds(start_, static_cast<std::int64_t>(elapsed_ms_ / 1000));
}

std::vector<std::wstring> VirtualEnv::ComPortNames() {
  const std::lock_guard lock(mutex_);
  return port_names_;
}

bool VirtualEnv::CanOpenComPort(const std::wstring& path) {
  const std::lock_guard lock(mutex_);
  probed_.push_back(path);
  return openable_.count(path) != 0;
}

std::uint64_t VirtualEnv::ElapsedMs() const {
  const std::lock_guard lock(mutex_);
  return elapsed_ms_;
}

}  // namespace bplink::testing
