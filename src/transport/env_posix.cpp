// The real Env on POSIX systems.

#include <bplink/env.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "serial_port_names.h"

namespace bplink {
namespace {

constexpr const char* kDeviceDirectory = "/dev";
constexpr const char* kTtyClassDirectory = "/sys/class/tty";

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
    for (const std::string& name : ListSerialPorts(kDeviceDirectory, kTtyClassDirectory))
      names.push_back(std::filesystem::path(name).wstring());
    return names;
  }

  // Opens and closes the port as CDevice_COM would hold it: a port that
  // another program holds (its exclusive lock) does not count as free.
  bool CanOpenComPort(const std::wstring& path) override {
    std::string file;
    try {
      file = std::filesystem::path(path).string();
    } catch (...) {
      return false;  // not representable as a file name here
    }
    const int fd = ::open(file.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
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
