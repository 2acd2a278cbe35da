// The real Env on Windows.

#include <bplink/env.h>

#include <windows.h>

#include <string>

namespace bplink {
namespace {

constexpr int kLastComPort = 255;
// COM3 is searched last: on many machines it belongs to a built-in modem.
constexpr int kComPortSearchedLast = 3;

class WindowsEnv final : public Env {
 public:
  void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }

  CalendarTime LocalTime() override {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    return CalendarTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
  }

  std::vector<std::wstring> ComPortNames() override {
    std::vector<std::wstring> names;
    for (int n = 1; n <= kLastComPort; ++n)
      if (n != kComPortSearchedLast) names.push_back(L"COM" + std::to_wstring(n));
    names.push_back(L"COM" + std::to_wstring(kComPortSearchedLast));
    return names;
  }

  bool CanOpenComPort(const std::wstring& path) override {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
  }
};

}  // namespace

Env* Env::Default() {
  static WindowsEnv* env = new WindowsEnv;
  return env;
}

std::wstring ComPortPath(const std::wstring& name) { return L"\\\\.\\" + name; }

}  // namespace bplink
