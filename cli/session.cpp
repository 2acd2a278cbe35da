#include "session.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <iostream>

#include <unistd.h>

#include "exit_status.h"
#include "program_env.h"

namespace bplink::cli {
namespace {

// The port name an in-process simulated serial device sits at.
constexpr const wchar_t* kSimulatedPort = L"bplink-sim0";
constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;
constexpr int kPercent = 100;

std::atomic<bool> g_transfer_running{false};
std::atomic<int> g_interrupts{0};

extern "C" void OnInterrupt(int) {
  if (!g_transfer_running.load() || g_interrupts.fetch_add(1) > 0) {
    static constexpr char kMessage[] = "\nbplink: interrupted\n";
    [[maybe_unused]] const auto n = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    _exit(kExitInterrupted);
  }
}

// A slow line: every frame the simulated device sends takes this long.
class PacedDevice : public CDevice {
 public:
  PacedDevice(CDevice& inner, unsigned pace_ms) : inner_(inner), pace_ms_(pace_ms) {}
  int Open(CString strPath, DCB dcb) override { return inner_.Open(strPath, dcb); }
  int Open(int nDevice) override { return inner_.Open(nDevice); }
  int Close() override { return inner_.Close(); }
  int SendData(BYTE* pBuffer, DWORD dwLen) override { return inner_.SendData(pBuffer, dwLen); }
  int RecvData(BYTE* pBuffer, DWORD dwLen) override {
    CurrentEnv()->Sleep(pace_ms_);
    return inner_.RecvData(pBuffer, dwLen);
  }

 private:
  CDevice& inner_;
  unsigned pace_ms_;
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

const char* StageName(int stage) {
  static constexpr std::array<const char*, 10> kNames = {
      "blood pressure", "plan",    "blood pressure", "SpO2",    "blood pressure, set 2",
      "deleting",       "store 1", "store 2",        "store 3", "plan upload"};
  return stage >= 0 && stage < static_cast<int>(kNames.size()) ? kNames[stage] : "working";
}

void DrawProgress(int percent, int stage) {
  percent = std::clamp(percent, 0, kPercent);
  const int filled = percent * kBarWidth / kPercent;
  std::cerr << "\r\033[K[" << std::string(filled, '#') << std::string(kBarWidth - filled, '.') << "] "
            << percent << "%  " << StageName(stage) << std::flush;
}

// Asks the running transfer to stop, again if it has since written "running".
void RequestStop(int& state) {
  std::atomic_ref<int> ref(state);
  const int now = ref.load();
  if (now != kStateStopRequested && now != kStateFailed && now != kStateSucceeded)
    ref.store(kStateStopRequested);
}

std::string ProtocolFamilyName(int protocol) {
  if (protocol >= kProtocolHidFirst && protocol <= kProtocolHidLast) return "hid";
  static constexpr std::array<const char*, 5> kSerial = {"kx71", "kv32", "vestra16", "vestra16c", "vestra18"};
  return kSerial[static_cast<std::size_t>(protocol - kProtocolKX71)];
}

void Bind(Session& session, Link& link) {
  session.protocol->SetDevice(&link.For(session.family->link), false);
  session.protocol->SetProgressInfo(&session.progress->percent, &session.progress->state,
                                    &session.progress->stage);
}

}  // namespace

Link::Link(const GlobalOptions& options) : trace_(options.trace) {
  if (options.timeout_ms) com_.SetRecvTimeout(*options.timeout_ms);
  if (options.port) TheProgramEnv().LimitPorts({Wide(*options.port)}, false);
  if (!options.sim) return;

  const Family* family = FindFamily(*options.sim);
  if (family == nullptr) throw CommandError(kExitFailed, NotInBuild(*options.sim));
  try {
    model_ = family->make_model(options.sim_settings);
  } catch (const std::invalid_argument& e) {
    throw CommandError(kExitBadInput, std::string("--sim ") + *options.sim + ": " + e.what());
  }
  simulated_ = std::make_unique<sim::InProcessDevice>();
  simulated_->SetRecvTimeout(options.timeout_ms.value_or(sim::InProcessDevice::kDefaultRecvTimeoutMs));
  if (family->link == LinkKind::kHid) {
    simulated_->AttachHid(model_.get());
  } else {
    simulated_->AttachPort(ComPortPath(kSimulatedPort), model_.get());
    TheProgramEnv().LimitPorts({kSimulatedPort}, true);
  }
  if (options.sim_settings.pace_ms > 0)
    paced_ = std::make_unique<PacedDevice>(*simulated_, options.sim_settings.pace_ms);
}

Link::~Link() = default;

CDevice& Link::For(LinkKind kind) {
  CDevice* device = paced_ ? paced_.get() : simulated_ ? static_cast<CDevice*>(simulated_.get()) : nullptr;
  if (device == nullptr) device = kind == LinkKind::kHid ? static_cast<CDevice*>(&hid_) : &com_;
  if (!trace_) return *device;
  auto& traced = kind == LinkKind::kHid ? traced_hid_ : traced_com_;
  if (!traced) traced = std::make_unique<sim::RecordingDevice>(*device, sim::TraceTo(std::cerr, [] {
                          return TheProgramEnv().ElapsedMs();
                        }));
  return *traced;
}

int Session::FirstMode() const {
  for (int mode = DATAMODE_BP; mode < kDataModeCount; ++mode)
    if (modes[mode] == 1) return mode;
  return DATAMODE_NONE;
}

Session Connect(const GlobalOptions& options, Link& link) {
  Session session;
  session.progress = std::make_unique<Session::Progress>();
  if (options.protocol) {
    const int code = *options.protocol;
    session.family = FamilyForProtocol(code);
    if (session.family == nullptr) throw CommandError(kExitFailed, NotInBuild(ProtocolFamilyName(code)));
    session.protocol = session.family->make_protocol();
    Bind(session, link);
    const int r = session.protocol->GetDownLoadDataMode(session.modes);
    if (r != kResultOk)
      throw CommandError(ExitForResult(r), "the device did not identify itself: " + ResultText(r));
    session.protocol->GetCurDeviceInfo(session.device);
    return session;
  }

  // Detection. The HID link is asked first, by the identification every HID
  // session starts with; device detection over the serial ports joins here
  // with the families it finds.
  std::vector<std::string> tried;
  if (const Family* hid = FindFamily("hid")) {
    session.family = hid;
    session.protocol = hid->make_protocol();
    Bind(session, link);
    const int r = session.protocol->GetDownLoadDataMode(session.modes);
    if (r == kResultOk) {
      session.protocol->GetCurDeviceInfo(session.device);
      if (FamilyForProtocol(session.device.nProtocol) == hid) return session;
      tried.push_back("USB HID: a device answered, but with an identity no protocol serves (device type " +
                      std::to_string(session.device.nDeviceType) + ", protocol " +
                      std::to_string(session.device.nProtocol) + ")");
    } else {
      tried.push_back("USB HID: " + ResultText(r));
    }
  }
  tried.push_back("serial ports: serial device detection is not available in this build");
  std::string message = "no device found. Tried:";
  for (const auto& t : tried) message += "\n  " + t;
  throw CommandError(kExitNoDevice, message);
}

TransferOutcome RunTransfer(Session& session, const std::function<int()>& transfer) {
  Session::Progress& p = *session.progress;
  p = Session::Progress{};
  session.protocol->SetProgressInfo(&p.percent, &p.state, &p.stage);
  const bool tty = isatty(STDERR_FILENO) != 0;
  bool told = false;

  g_interrupts = 0;
  g_transfer_running = true;
  auto running = std::async(std::launch::async, transfer);
  while (running.wait_for(kPollInterval) != std::future_status::ready) {
    if (g_interrupts.load() > 0) {
      RequestStop(p.state);
      if (!told) {
        std::cerr << (tty ? "\r\033[K" : "") << "bplink: stopping; what has arrived is kept (Ctrl-C again to quit)\n";
        told = true;
      }
    }
    if (tty) DrawProgress(std::atomic_ref<int>(p.percent).load(), std::atomic_ref<enum_TransportType>(p.stage).load());
  }
  TransferOutcome outcome{running.get(), g_interrupts.load() > 0};
  g_transfer_running = false;
  if (tty) std::cerr << "\r\033[K" << std::flush;
  return outcome;
}

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

std::string DataModeName(int mode) {
  static constexpr std::array<const char*, kDataModeCount> kNames = {
      "none",          "blood pressure", "blood pressure with SpO2", "second set", "store 1", "store 2",
      "store 3",       "all three stores", "reserved"};
  return mode >= 0 && mode < kDataModeCount ? kNames[mode] : "unknown";
}

}  // namespace bplink::cli
