// The real Env on Windows.

#include <bplink/env.h>

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "transport/com_port_names_windows.h"

namespace bplink {
namespace {

constexpr int kLastComPort = 255;
// COM3 is searched last: on many machines it belongs to a built-in modem.
constexpr int kComPortSearchedLast = 3;

// COM1, COM2, COM4, ..., COM255, and COM3 last.
std::vector<std::wstring> FixedComPortNames() {
  std::vector<std::wstring> names;
  for (int n = 1; n <= kLastComPort; ++n)
    if (n != kComPortSearchedLast) names.push_back(L"COM" + std::to_wstring(n));
  names.push_back(L"COM" + std::to_wstring(kComPortSearchedLast));
  return names;
}

// The serial ports the system has now: every driver of one writes its name
// under SERIALCOMM. Nothing when the key cannot be read (no port was ever
// installed, or the system keeps no such key).
std::optional<std::vector<std::wstring>> RegisteredComPorts() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t value_name[256];
    DWORD value_name_size = std::size(value_name);
    wchar_t data[256] = {};
    DWORD data_size = sizeof data - sizeof(wchar_t);  // room for a terminator the data may lack
    DWORD type = 0;
    const LSTATUS status = ::RegEnumValueW(key, index, value_name, &value_name_size, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data), &data_size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;  // a name or value too long for a port: not a port
    if (type == REG_SZ && data[0] != L'\0') names.emplace_back(data);
  }
  ::RegCloseKey(key);
  return names;
}

class WindowsEnv final : public Env {
 public:
  void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }

  CalendarTime LocalTime() override {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    return CalendarTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
  }

  // The ports the registry says exist, so a search probes a handful of
  // ports, not 255.
  std::vector<std::wstring> ComPortNames() override { return OrderComPortNames(RegisteredComPorts()); }

  bool CanOpenComPort(const std::wstring& path) override {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
  }
};

}  // namespace

std::vector<std::wstring> OrderComPortNames(const std::optional<std::vector<std::wstring>>& registered) {
  std::vector<std::wstring> names = FixedComPortNames();
  if (!registered) return names;
  const auto listed = [](const std::vector<std::wstring>& list, const std::wstring& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  std::vector<std::wstring> present;
  for (std::wstring& name : names)
    if (listed(*registered, name)) present.push_back(std::move(name));
  for (const std::wstring& name : *registered)
    if (!listed(present, name)) present.push_back(name);
  return present;
}

Env* Env::Default() {
  static WindowsEnv* env = new WindowsEnv;
  return env;
}

std::wstring ComPortPath(const std::wstring& name) { return L"\\\\.\\" + name; }

}  // namespace bplink
