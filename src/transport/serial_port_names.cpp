#include "serial_port_names.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>
#include <tuple>

namespace bplink {
namespace {

namespace fs = std::filesystem;

// Adapters a person plugs in for a monitor come first, built-in UARTs last.
constexpr std::array<std::string_view, 4> kPortFamilies = {"ttyUSB", "ttyACM", "rfcomm", "ttyS"};
constexpr std::string_view kBuiltInUarts = "ttyS";
// Longer numbers are no port a driver made.
constexpr std::size_t kMaxPortDigits = 6;

struct Port {
  std::size_t family;
  unsigned long number;
  std::string name;
  friend bool operator<(const Port& a, const Port& b) {
    return std::tie(a.family, a.number) < std::tie(b.family, b.number);
  }
};

// The family and number of a port name such as "ttyUSB12", or false.
bool ParsePortName(const std::string& name, Port& port) {
  for (std::size_t family = 0; family < kPortFamilies.size(); ++family) {
    const std::string_view prefix = kPortFamilies[family];
    if (!name.starts_with(prefix)) continue;
    const std::string_view digits = std::string_view(name).substr(prefix.size());
    if (digits.empty() || digits.size() > kMaxPortDigits) return false;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    port = Port{family, std::stoul(std::string(digits)), name};
    return true;
  }
  return false;
}

// The kernel makes a ttyS node for every possible 8250 port; only those
// whose "type" is not 0 (PORT_UNKNOWN) have a UART behind them.
bool HasUart(const fs::path& sysClassTty, const std::string& name) {
  std::ifstream type(sysClassTty / name / "type");
  int value = 0;
  return static_cast<bool>(type >> value) && value != 0;
}

}  // namespace

std::vector<std::string> ListSerialPorts(const fs::path& dev, const fs::path& sysClassTty) {
  std::vector<Port> ports;
  std::error_code ec;
  for (fs::directory_iterator it(dev, ec), end; !ec && it != end; it.increment(ec)) {
    Port port;
    if (!ParsePortName(it->path().filename().string(), port)) continue;
    if (kPortFamilies[port.family] == kBuiltInUarts && !HasUart(sysClassTty, port.name)) continue;
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end());
  std::vector<std::string> names;
  names.reserve(ports.size());
  std::transform(ports.begin(), ports.end(), std::back_inserter(names),
                 [](const Port& p) { return p.name; });
  return names;
}

}  // namespace bplink
