#include "links.h"

#include <bplink/transport/port_check.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "command_error.h"
#include "commands/commands.h"
#include "exit_status.h"
#include "models.h"
#include "program_env.h"
#include "transfer.h"

namespace bplink::cli {
namespace {

// The port name an in-process simulated serial device sits at.
constexpr const wchar_t* kSimulatedPort = L"bplink-sim0";

// A slow line: every frame the simulated device sends takes this long.
class PacedDevice : public CDevice {
 public:
  PacedDevice(CDevice& inner, unsigned pace_ms) : inner_(inner), pace_ms_(pace_ms) {}
  int Open(CString strPath, DCB dcb) override { return inner_.Open(strPath, dcb); }
  int Open(int nDevice) override { return inner_.Open(nDevice); }
  int Close() override { return inner_.Close(); }
  int SendData(BYTE* pBuffer, DWORD dwLen) override { return inner_.SendData(pBuffer, dwLen); }
  int RecvData(BYTE* pBuffer, DWORD dwLen) override {
    TheProgramEnv().RealSleep(pace_ms_);
    return inner_.RecvData(pBuffer, dwLen);
  }

 private:
  CDevice& inner_;
  unsigned pace_ms_;
};

// --trace: one line per frame, stamped with the milliseconds since the
// program started, in hex and as printable ASCII. The serial families send
// and receive one byte per call: bytes that cross one at a time in one
// direction, with nothing else and no pause between, are one frame, and one
// line. A call of several bytes is a frame of its own.
class FrameTrace {
 public:
  // `name_link`: each line names its port (detection traces several at once).
  explicit FrameTrace(bool name_link) : name_link_(name_link) {}
  ~FrameTrace() { Flush(); }
  FrameTrace(const FrameTrace&) = delete;
  FrameTrace& operator=(const FrameTrace&) = delete;

  void See(const sim::LinkEvent& e) {
    const std::lock_guard hold(lock_);
    using Kind = sim::LinkEvent::Kind;
    const double now = TheProgramEnv().ElapsedMs();
    const bool byte = (e.kind == Kind::kSent || e.kind == Kind::kReceived) && e.asked == 1 && e.result != 0;
    if (!byte || e.kind != pending_kind_ || now - last_byte_at_ > kFrameGapMs) Flush();
    if (byte) last_byte_at_ = now;
    switch (e.kind) {
      case Kind::kOpen:
        link_ = e.target.substr(0, e.target.find(" at "));
        if (link_.starts_with("device ")) link_ = "USB HID";
        Line(now, "open " + e.target + (e.result ? "" : ": failed"));
        return;
      case Kind::kClose: Line(now, "close"); return;
      case Kind::kSent:
      case Kind::kReceived: break;
    }
    const char* arrow = e.kind == Kind::kSent ? "> " : "< ";
    if (e.result == 0 && e.kind == Kind::kReceived) {
      Line(now, arrow + std::string("nothing (") + std::to_string(e.asked) + (e.asked == 1 ? " byte" : " bytes") +
                    " expected)");
      return;
    }
    if (!byte) {
      Line(now, arrow + Bytes(e.bytes) + (e.result ? "" : "  (send failed)"));
      return;
    }
    if (pending_.empty()) pending_at_ = now;
    pending_kind_ = e.kind;
    pending_.insert(pending_.end(), e.bytes.begin(), e.bytes.end());
    if (pending_.size() >= kLongestLine) Flush();
  }

 private:
  // Far longer than any frame these devices send one byte at a time.
  static constexpr std::size_t kLongestLine = 256;
  // Longer than a byte takes on the slowest line (4800 baud: 2 ms), shorter
  // than the shortest pause the protocols make between frames (10 ms).
  static constexpr double kFrameGapMs = 8;

  // "41 00 05  |A..|"
  static std::string Bytes(const std::vector<std::uint8_t>& bytes) {
    std::string hex, ascii;
    char cell[4];
    for (std::uint8_t b : bytes) {
      std::snprintf(cell, sizeof cell, "%02X ", b);
      hex += cell;
      ascii += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
    }
    if (!hex.empty()) hex.pop_back();
    return hex + "  |" + ascii + "|";
  }

  void Flush() {
    if (pending_.empty()) return;
    Line(pending_at_, (pending_kind_ == sim::LinkEvent::Kind::kSent ? "> " : "< ") + Bytes(pending_));
    pending_.clear();
  }

  void Line(double ms, const std::string& text) const {
    WriteStderrLine(TraceStamp(ms) + (name_link_ && !link_.empty() ? link_ + " " : std::string()) + text);
  }

  const bool name_link_;
  std::mutex lock_;
  std::string link_;  // what the last open opened
  sim::LinkEvent::Kind pending_kind_ = sim::LinkEvent::Kind::kClose;
  std::vector<std::uint8_t> pending_;
  double pending_at_ = 0;
  double last_byte_at_ = 0;
};

sim::RecordingDevice::Observer TraceFrames(bool name_link) {
  return [trace = std::make_shared<FrameTrace>(name_link)](const sim::LinkEvent& event) { trace->See(event); };
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// One detection worker's device: a port of its own on the machine, or the
// run's simulated device, which takes one call at a time. Under --trace a
// port of its own is traced by itself, each line naming the port.
class DetectionDevice : public CDevice {
 public:
  DetectionDevice(std::unique_ptr<CDevice> own, CDevice* shared, std::shared_ptr<std::mutex> lock, bool trace)
      : own_(std::move(own)), target_(own_ ? own_.get() : shared), lock_(std::move(lock)) {
    if (trace && own_) traced_ = std::make_unique<sim::RecordingDevice>(*own_, TraceFrames(true));
    if (traced_) target_ = traced_.get();
  }
  int Open(CString strPath, DCB dcb) override { return Call([&] { return target_->Open(strPath, dcb); }); }
  int Open(int nDevice) override { return Call([&] { return target_->Open(nDevice); }); }
  int Close() override { return Call([&] { return target_->Close(); }); }
  int RecvData(BYTE* pBuffer, DWORD dwLen) override { return Call([&] { return target_->RecvData(pBuffer, dwLen); }); }
  int SendData(BYTE* pBuffer, DWORD dwLen) override { return Call([&] { return target_->SendData(pBuffer, dwLen); }); }

  LinkError Error() const { return own_ ? LastLinkError(*own_) : LinkError{}; }

 private:
  // A port of its own needs no lock; the shared simulated device does.
  template <typename F>
  int Call(F call) {
    if (own_) return call();
    const std::lock_guard hold(*lock_);
    return call();
  }

  std::unique_ptr<CDevice> own_;
  CDevice* target_;
  std::shared_ptr<std::mutex> lock_;
  std::unique_ptr<sim::RecordingDevice> traced_;
};

}  // namespace

std::unique_ptr<sim::DeviceModel> MakeSimulated(const Family& family, const GlobalOptions& options) {
  SimSettings settings = options.sim_settings;
  if (options.sim_plan) settings.plan = LoadPlan(*options.sim_plan);
  try {
    return sim::MakeModel(family.name, settings);
  } catch (const std::invalid_argument& e) {
    throw CommandError(kExitBadInput, "a simulated " + std::string(family.name) + " device: " + e.what());
  }
}

Link::Link(const GlobalOptions& options) : trace_(options.trace), shared_(std::make_shared<std::mutex>()) {
  if (options.timeout_ms) machine_.SetRecvTimeout(*options.timeout_ms);
  if (options.timeout_ms) timeout_ms_ = *options.timeout_ms;
  if (!options.ports.empty()) {
    std::vector<std::wstring> names;
    for (const std::string& port : options.ports) names.push_back(Wide(port));
    search_ = names;
    TheProgramEnv().LimitPorts(std::move(names), false);
  }
  CDevice* device = &machine_;
  if (options.sim) {
    const Family* family = FindFamily(*options.sim);
    if (family == nullptr) throw CommandError(kExitBadInput, "no device family is called " + *options.sim);
    model_ = MakeSimulated(*family, options);
    simulated_ = std::make_unique<sim::InProcessDevice>();
    simulated_->SetRecvTimeout(options.timeout_ms.value_or(sim::InProcessDevice::kDefaultRecvTimeoutMs));
    if (family->link == LinkKind::kUsbHid) {
      simulated_->AttachHid(model_.get());
      // The machine's serial ports are not this device's.
      TheProgramEnv().LimitPorts({}, true);
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
    traced_ = std::make_unique<sim::RecordingDevice>(*device, TraceFrames(false));
  device_ = traced_ ? traced_.get() : device;
}

Link::~Link() = default;

CDevice& Link::Device() { return *device_; }

DetectAllOptions Link::DetectionOptions() {
  if (!simulated_) TheProgramEnv().SearchPorts(search_);
  DetectAllOptions options;
  options.makeDevice = [this](LinkKind kind) -> std::unique_ptr<CDevice> {
    std::unique_ptr<CDevice> own;
    if (!simulated_ && kind == LinkKind::kUsbHid) {
      own = std::make_unique<CDevice_HID>();
    } else if (!simulated_) {
      auto com = std::make_unique<CDevice_COM>();
      com->SetRecvTimeout(timeout_ms_);
      own = std::move(com);
    }
    return std::make_unique<DetectionDevice>(std::move(own), device_, shared_, trace_);
  };
  options.lastError = [](const CDevice& device) { return static_cast<const DetectionDevice&>(device).Error(); };
  return options;
}

void Link::UsePort(const std::wstring& name) const {
  if (!simulated_) TheProgramEnv().LimitPorts({name}, false);
}

std::string Link::WhyNoLink(LinkKind kind) const {
  if (simulated_) return {};
  if (kind == LinkKind::kUsbHid) return machine_.HidError().text.empty() ? "" : "USB HID: " + machine_.HidError().text;
  return WhyNoComPort(CheckComPorts());
}

}  // namespace bplink::cli
