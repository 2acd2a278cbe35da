#include "session.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <iostream>

#include "exit_status.h"
#include "commands/commands.h"
#include "program_env.h"
#include "terminal.h"

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
    WriteStderrNow(kMessage, sizeof kMessage - 1);
    ExitNow(kExitInterrupted);
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

void Bind(Session& session, Link& link) {
  session.protocol->SetDevice(&link.Device(), false);
  session.protocol->SetProgressInfo(&session.progress->percent, &session.progress->state,
                                    &session.progress->stage);
}

// What detection went through, for the message when nothing answered.
std::string WhatWasTried(const tag_SUPPORT_PROTOCOL& found) {
  std::string hid = "USB HID: no device answered the device-information request";
  if (found.nProtocol != kProtocolNotIdentified)
    hid = "USB HID: a device answered, but with an identity no protocol serves (device type " +
          std::to_string(found.nDeviceType) + ", protocol " + std::to_string(found.nProtocol) + ")";
  std::string ports;
  int openable = 0;
  ProgramEnv& env = TheProgramEnv();
  for (const std::wstring& name : env.ComPortNames()) {
    const bool opens = env.CanOpenComPort(ComPortPath(name));
    openable += opens ? 1 : 0;
    ports += (ports.empty() ? "" : ", ") + std::string(name.begin(), name.end()) + (opens ? "" : " (cannot be opened)");
  }
  std::string serial = "serial ports: none found";
  if (!ports.empty())
    serial = "serial ports: " + ports + (openable == 0 ? "" : "; each one that opens was asked by every serial "
                                                               "family's probe and none answered");
  return "no device found. Tried:\n  " + hid + "\n  " + serial;
}

// Detection over both links; throws when nothing answered.
tag_SUPPORT_PROTOCOL Detect(Link& link) {
  CSelectProtocol select;
  select.SetDevice(&link.Device());
  tag_SUPPORT_PROTOCOL found{};
  const int r = select.OnTestProtocol(found);
  if (r == kResultOk && FamilyForProtocol(found.nProtocol) != nullptr) return found;
  if (r == kResultException)
    throw CommandError(kExitFailed, "detection failed: " + ResultText(r) + " (the serial ports could not be listed)");
  throw CommandError(kExitNoDevice, WhatWasTried(found));
}

}  // namespace

std::unique_ptr<sim::DeviceModel> MakeSimulated(const Family& family, const GlobalOptions& options) {
  SimSettings settings = options.sim_settings;
  if (options.sim_plan) settings.plan = LoadPlan(*options.sim_plan);
  try {
    return family.make_model(settings);
  } catch (const std::invalid_argument& e) {
    throw CommandError(kExitBadInput, "a simulated " + family.name + " device: " + e.what());
  }
}

int MachineLinks::Open(CString strPath, DCB dcb) {
  current_ = &com_;
  return com_.Open(strPath, dcb);
}

int MachineLinks::Open(int nDevice) {
  current_ = &hid_;
  return hid_.Open(nDevice);
}

int MachineLinks::Close() { return current_->Close(); }
int MachineLinks::RecvData(BYTE* pBuffer, DWORD dwLen) { return current_->RecvData(pBuffer, dwLen); }
int MachineLinks::SendData(BYTE* pBuffer, DWORD dwLen) { return current_->SendData(pBuffer, dwLen); }

Link::Link(const GlobalOptions& options) {
  if (options.timeout_ms) machine_.SetRecvTimeout(*options.timeout_ms);
  if (options.port) TheProgramEnv().LimitPorts({Wide(*options.port)}, false);
  CDevice* device = &machine_;
  if (options.sim) {
    const Family* family = FindFamily(*options.sim);
    if (family == nullptr) throw CommandError(kExitBadInput, "no device family is called " + *options.sim);
    model_ = MakeSimulated(*family, options);
    simulated_ = std::make_unique<sim::InProcessDevice>();
    simulated_->SetRecvTimeout(options.timeout_ms.value_or(sim::InProcessDevice::kDefaultRecvTimeoutMs));
    if (family->link == LinkKind::kHid) {
      simulated_->AttachHid(model_.get());
    } else {
      simulated_->AttachPort(ComPortPath(kSimulatedPort), model_.get());
      TheProgramEnv().LimitPorts({kSimulatedPort}, true);
    }
    device = simulated_.get();
    if (options.sim_settings.pace_ms > 0) {
      paced_ = std::make_unique<PacedDevice>(*simulated_, options.sim_settings.pace_ms);
      device = paced_.get();
    }
  }
  if (options.trace)
    traced_ = std::make_unique<sim::RecordingDevice>(
        *device, sim::TraceTo(std::cerr, [] { return TheProgramEnv().ElapsedMs(); }));
  device_ = traced_ ? traced_.get() : device;
}

Link::~Link() = default;

CDevice& Link::Device() { return *device_; }

int Session::ExitFor(int result) const {
  return result != kResultOk && result == family->silence_result ? kExitLinkFailed : ExitForResult(result);
}

std::string Session::Explain(int result) const {
  if (result == kResultOk || result != family->silence_result || result == kResultIoFailed) return ResultText(result);
  return "the device stopped answering (" + std::to_string(result) + ")";
}

int Session::FirstMode() const {
  for (int mode = DATAMODE_BP; mode < kDataModeCount; ++mode)
    if (modes[mode] == 1) return mode;
  return DATAMODE_NONE;
}

Session Connect(const GlobalOptions& options, Link& link) {
  Session session;
  session.progress = std::make_unique<Session::Progress>();
  std::optional<tag_SUPPORT_PROTOCOL> detected;
  if (!options.protocol) detected = Detect(link);
  const int code = options.protocol ? *options.protocol : detected->nProtocol;
  session.family = FamilyForProtocol(code);
  if (session.family == nullptr) throw CommandError(kExitBadInput, "no device family speaks protocol " + std::to_string(code));
  session.protocol = session.family->make_protocol();
  Bind(session, link);
  // The HID class identifies the device again here; the serial classes
  // name their fixed modes and find their port at each transfer.
  const int r = session.protocol->GetDownLoadDataMode(session.modes);
  if (r != kResultOk)
    throw CommandError(ExitForResult(r), "the device did not identify itself: " + ResultText(r));
  session.protocol->GetCurDeviceInfo(session.device);
  // Only detection tells the serial devices' variants apart.
  if (detected && session.family->link == LinkKind::kSerial) session.device = *detected;
  return session;
}

TransferOutcome RunTransfer(Session& session, const std::function<int()>& transfer) {
  Session::Progress& p = *session.progress;
  p = Session::Progress{};
  session.protocol->SetProgressInfo(&p.percent, &p.state, &p.stage);
  const bool tty = StderrIsTerminal();
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

void InstallInterruptHandler() { OnCtrlC(OnInterrupt); }

std::string DataModeName(int mode) {
  static constexpr std::array<const char*, kDataModeCount> kNames = {
      "none",          "blood pressure", "blood pressure with SpO2", "second set", "store 1", "store 2",
      "store 3",       "all three stores", "reserved"};
  return mode >= 0 && mode < kDataModeCount ? kNames[mode] : "unknown";
}

}  // namespace bplink::cli
