// The real Env on POSIX systems.

#include <bplink/env.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

namespace bplink {
namespace {

namespace fs = std::filesystem;

// Serial device families in the order a search tries them: adapters a
// person plugs in for a monitor first, built-in UARTs last.
constexpr const char* kPortFamilies[] = {"ttyUSB", "ttyACM", "rfcomm", "ttyS"};

// The number after a family prefix, or -1 when the rest is not a number.
long PortNumber(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  long number = 0;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || number > 100000) return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

// The kernel creates ttyS nodes for every possible 8250 port; only those
// whose sysfs "type" is not 0 (PORT_UNKNOWN) have a UART behind them.
bool HasUart(const std::string& name) {
  std::ifstream type("/sys/class/tty/" + name + "/type");
  int value = 0;
  return static_cast<bool>(type >> value) && value != 0;
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }
std::string Narrow(const std::wstring& s) {
  std::string out;
  out.reserve(s.size());
  for (wchar_t c : s) out.push_back(static_cast<char>(c));
  return out;
}

class PosixEnv final : public Env {
 public:
  void Sleep(unsigned milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  CalendarTime LocalTime() override {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return CalendarTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                        local.tm_hour,        local.tm_min,     local.tm_sec};
  }

  std::vector<std::wstring> ComPortNames() override {
    std::vector<std::wstring> names;
    std::error_code ec;
    for (const char* family : kPortFamilies) {
      std::vector<std::pair<long, std::string>> found;
      for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename().string();
        const long number = PortNumber(name, family);
        if (number < 0) continue;
        if (std::string(family) == "ttyS" && !HasUart(name)) continue;
        found.emplace_back(number, name);
      }
      std::sort(found.begin(), found.end());
      for (const auto& item : found) names.push_back(Widen(item.second));
    }
    return names;
  }

  bool CanOpenComPort(const std::wstring& path) override {
    const int fd = ::open(Narrow(path).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // Another program holding the port keeps an exclusive lock on it.
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
  }
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;  // never destroyed: usable during static teardown
  return env;
}

std::wstring ComPortPath(const std::wstring& name) {
  if (!name.empty() && name.front() == L'/') return name;
  return L"/dev/" + name;
}

}  // namespace bplink
