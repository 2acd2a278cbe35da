// Detection over 1, 2, 4 and 8 ports through the real serial port, each port
// a pseudo-terminal carrying bytes at the line speed the host set: nothing
// answering on any, and then one simulated device on the last. Wall time of
// CSelectProtocol (one port after another) and of DetectAll (every port at
// once) side by side, each as a ratio to its own time on one port. Prints a
// Markdown table; medians of --repeat runs.
//
//   detect_bench [--repeat N] [--timeout MS] [--family NAME] [--quick]

#include <bplink/bplink.h>
#include <bplink/scan/detect_all.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "family_devices.h"
#include "pty_bridge.h"
#include "virtual_env.h"

namespace bplink::bench {
namespace {

// Hears everything, answers nothing: a port with no device on it.
class Mute : public sim::DeviceModel {
 public:
  void Receive(const std::uint8_t*, std::size_t, unsigned) override {}
};

// The machine's pauses, and the benchmark's ports as the only ones. Its
// calls only read, so DetectAll's workers may share it.
class PortsEnv : public EnvWrapper {
 public:
  explicit PortsEnv(std::vector<std::wstring> paths) : EnvWrapper(Env::Default()), paths_(std::move(paths)) {}
  std::vector<std::wstring> ComPortNames() override { return paths_; }
  bool CanOpenComPort(const std::wstring& path) override {
    return std::find(paths_.begin(), paths_.end(), path) != paths_.end();
  }

 private:
  std::vector<std::wstring> paths_;
};

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Timed {
  double ms = 0;
  bool right = false;  // found the device on the last port, or nothing when there is none
};

// One detection over `ports` paced ptys, the last holding a device of
// `family` when it is not empty; the concurrent function or the sequential one.
Timed DetectOnce(int ports, const std::string& family, bool concurrent, unsigned timeoutMs) {
  std::vector<std::unique_ptr<sim::DeviceModel>> models;
  for (int i = 0; i < ports; ++i)
    models.push_back(i == ports - 1 && !family.empty() ? testing::MakeFamilyDevice(family, 1) : std::make_unique<Mute>());
  std::vector<std::unique_ptr<sim::PtyBridge>> bridges;
  std::vector<std::wstring> paths;
  for (auto& model : models) {
    bridges.push_back(std::make_unique<sim::PtyBridge>(*model));
    bridges.back()->PaceAtLineSpeed(true);
    if (!bridges.back()->Start()) {
      std::fprintf(stderr, "no pseudo-terminal to be had\n");
      std::exit(2);
    }
    paths.push_back(Wide(bridges.back()->Path()));
  }
  PortsEnv env(paths);
  testing::ScopedEnv scope(&env);
  const int expected = family.empty() ? kProtocolNotIdentified : FindFamily(family)->firstProtocol;

  Timed timed;
  const auto start = std::chrono::steady_clock::now();
  if (concurrent) {
    DetectAllOptions options;
    options.probeHid = false;  // the machine's own HID devices are not measured
    options.serialTimeoutMs = timeoutMs;
    std::vector<DetectedPort> found;
    DetectAll(found, options);
    const DetectedPort* first = FirstFound(found);
    timed.right = (first == nullptr ? kProtocolNotIdentified : first->device.nProtocol) == expected &&
                  (first == nullptr || first->port == paths.back());
  } else {
    // A port of the host's own: its Open(0) fails at once, so the HID link
    // costs nothing here either.
    CDevice_COM port;
    port.SetRecvTimeout(timeoutMs);
    CSelectProtocol select;
    select.SetDevice(&port);
    tag_SUPPORT_PROTOCOL out{};
    select.OnTestProtocol(out);
    timed.right = out.nProtocol == expected;
  }
  timed.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return timed;
}

int Main(int argc, char** argv) {
  int repeat = 3;
  unsigned timeout = CDevice_COM::kDefaultRecvTimeoutMs;
  std::string family = "vestra18";
  std::vector<int> counts = {1, 2, 4, 8};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      repeat = 1;
      timeout = 20;
      counts = {1, 2};
    } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
      timeout = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
    } else if (std::strcmp(argv[i], "--family") == 0 && i + 1 < argc && FindFamily(argv[i + 1]) != nullptr &&
               FindFamily(argv[i + 1])->link == LinkKind::kSerial) {
      family = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--repeat N] [--timeout MS] [--family SERIAL_FAMILY] [--quick]\n", argv[0]);
      return 2;
    }
  }
  std::printf("Receive time-out %u ms; medians of %d runs.\n\n", timeout, repeat);
  std::printf("| ports | on the last port | CSelectProtocol ms | / 1 port | DetectAll ms | / 1 port |\n");
  std::printf("|--:|---|--:|--:|--:|--:|\n");
  bool all_right = true;
  for (const std::string& device : {std::string(), family}) {
    double one[2] = {0, 0};
    for (int ports : counts) {
      double ms[2];
      for (int concurrent = 0; concurrent < 2; ++concurrent) {
        std::vector<double> walls;
        for (int r = 0; r < repeat; ++r) {
          const Timed t = DetectOnce(ports, device, concurrent == 1, timeout);
          all_right = all_right && t.right;
          if (!t.right) std::fprintf(stderr, "FAILED: %d ports, %s\n", ports, concurrent ? "DetectAll" : "CSelectProtocol");
          walls.push_back(t.ms);
        }
        ms[concurrent] = Median(walls);
        if (ports == counts.front()) one[concurrent] = ms[concurrent];
      }
      std::printf("| %d | %s | %.0f | %.2f | %.0f | %.3f |\n", ports, device.empty() ? "nothing" : device.c_str(), ms[0],
                  ms[0] / one[0], ms[1], ms[1] / one[1]);
      std::fflush(stdout);
    }
  }
  return all_right ? 0 : 1;
}

}  // namespace
}  // namespace bplink::bench

int main(int argc, char** argv) { return bplink::bench::Main(argc, argv); }
