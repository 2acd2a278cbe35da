#include "virtual_env.h"

namespace bplink::testing {

VirtualEnv::VirtualEnv() : start_{2026, 1, 15, 9, 30, 0} {}

void VirtualEnv::Sleep(unsigned milliseconds) {
  elapsed_ms_ += milliseconds;
  sleeps_.push_back(milliseconds);
}

CalendarTime VirtualEnv::LocalTime() {
  return AddSeconds(start_, static_cast<std::int64_t>(elapsed_ms_ / 1000));
}

std::vector<std::wstring> VirtualEnv::ComPortNames() { return port_names_; }

bool VirtualEnv::CanOpenComPort(const std::wstring& path) {
  probed_.push_back(path);
  return openable_.count(path) != 0;
}

}  // namespace bplink::testing
