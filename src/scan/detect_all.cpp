// DetectAll: one worker per link, each running detection's probes on its own
// device, and a report for every link.

#include <bplink/scan/detect_all.h>

#include <bplink/codes.h>
#include <bplink/comports.h>
#include <bplink/env.h>

#include <atomic>
#include <exception>
#include <thread>
#include <utility>

#include "detect/families.h"
#include "serial/detection_probe.h"
#include "serial/line.h"

namespace bplink {
namespace {

constexpr int kHidDeviceNumber = 0;
constexpr int kPortOpened = 1;

// What every worker shares: the host's stop request, an abort of our own
// (when not every worker could be started) and the progress.
class Run {
 public:
  explicit Run(const DetectAllOptions& options) : options_(options) {}

  bool StopRequested() const {
    if (aborted_.load()) return true;
    return options_.state != nullptr && std::atomic_ref<int>(*options_.state).load() == kStateStopRequested;
  }
  void Abort() { aborted_.store(true); }
  void SetLinksToProbe(int links) const { Publish(options_.linksToProbe, links); }
  void LinkDone() { Publish(options_.linksDone, done_.fetch_add(1) + 1); }

  std::unique_ptr<CDevice> MakeDevice(LinkKind link) const {
    if (options_.makeDevice) return options_.makeDevice(link);
    if (link == LinkKind::kUsbHid) {
      auto hid = std::make_unique<CDevice_HID>();
      hid->SetRecvTimeout(options_.hidTimeoutMs);
      return hid;
    }
    auto com = std::make_unique<CDevice_COM>();
    com->SetRecvTimeout(options_.serialTimeoutMs);
    return com;
  }

  LinkError LastError(const CDevice& device) const {
    if (options_.lastError) return options_.lastError(device);
    return LastLinkError(device);
  }

 private:
  static void Publish(int* variable, int value) {
    if (variable != nullptr) std::atomic_ref<int>(*variable).store(value);
  }

  const DetectAllOptions& options_;
  std::atomic<bool> aborted_{false};
  std::atomic<int> done_{0};
};

void Fail(DetectedPort& port, PortStatus status, LinkError error) {
  port.status = status;
  port.error = std::move(error);
}

// A worker's device as the probes see it, telling the worker whether the
// port opened: a failed open sends nothing, whatever the transport can say.
class Watched : public CDevice {
 public:
  explicit Watched(CDevice& inner) : inner_(inner) {}
  int Open(CString strPath, DCB dcb) override {
    opened_ = inner_.Open(std::move(strPath), dcb) == kPortOpened;
    everOpened_ = everOpened_ || opened_;
    return opened_ ? kPortOpened : 0;
  }
  int Open(int nDevice) override { return inner_.Open(nDevice); }
  int Close() override { return inner_.Close(); }
  int RecvData(BYTE* pBuffer, DWORD dwLen) override { return inner_.RecvData(pBuffer, dwLen); }
  int SendData(BYTE* pBuffer, DWORD dwLen) override { return inner_.SendData(pBuffer, dwLen); }

  bool Opened() const { return opened_; }
  bool EverOpened() const { return everOpened_; }

 private:
  CDevice& inner_;
  bool opened_ = false;
  bool everOpened_ = false;
};

PortStatus OpenFailure(const LinkError& why) {
  return why.kind == LinkErrorKind::kPermissionDenied ? PortStatus::kNotPermitted : PortStatus::kCannotOpen;
}

// The serial probes on one port, in the families' order, until one answers.
// A port that never opens says why; one that vanishes (its line lost, or its
// path gone after it opened) is given up at once.
void ProbePort(Run& run, CDevice& device, DetectedPort& port) {
  const CString path = ComPortPath(port.port);
  if (!CurrentEnv()->CanOpenComPort(path)) {
    // The Env's probe keeps the port out of the search, as it does for
    // CSelectProtocol; the device's own open says why.
    DCB line = SerialLine(detect::SerialProbesInOrder().front().probe->baud);
    if (device.Open(path, line) == kPortOpened) {
      device.Close();
      return Fail(port, PortStatus::kCannotOpen,
                  LinkError{LinkErrorKind::kOther, 0, "the port search does not take it"});
    }
    const LinkError why = run.LastError(device);
    return Fail(port, OpenFailure(why), why);
  }

  const auto stop = [&run] { return run.StopRequested(); };
  Watched watched(device);
  DCB dcb = SerialLine(0);
  LinkError openError;
  for (const detect::SerialProbe& serial : detect::SerialProbesInOrder()) {
    if (run.StopRequested()) return Fail(port, PortStatus::kStopped, {});
    int variant = kNotReported;
    const bool found = serial::RunDetectionProbe(watched, path, dcb, *serial.probe, variant, stop);
    const LinkError last = run.LastError(device);
    if (found) {
      port.status = PortStatus::kFound;
      port.device.nDeviceType = serial.family->deviceType;
      port.device.nProtocol = serial.family->firstProtocol;
      port.device.nVariant = variant;
      return;
    }
    const bool vanished = watched.EverOpened() && !watched.Opened() && last.kind == LinkErrorKind::kNoSuchPort;
    if (last.kind == LinkErrorKind::kLinkLost || vanished) return Fail(port, PortStatus::kGone, last);
    // A probe whose open failed sent nothing; the next one tries again, as
    // CSelectProtocol's does (a port held for a moment may open for it).
    if (!watched.Opened()) openError = last;
  }
  if (run.StopRequested()) return Fail(port, PortStatus::kStopped, {});
  if (watched.EverOpened()) return Fail(port, PortStatus::kSilent, {});
  Fail(port, OpenFailure(openError), openError);
}

// The identity request on a HID link that opened.
void ProbeHid(Run& run, CDevice& device, DetectedPort& hid) {
  if (run.StopRequested()) {
    device.Close();
    return Fail(hid, PortStatus::kStopped, {});
  }
  tag_SUPPORT_PROTOCOL info = hid.device;
  const int result = detect::AskHidIdentity(device, info);
  const LinkError last = run.LastError(device);
  device.Close();
  if (result == kResultOk) {
    hid.status = PortStatus::kFound;
    hid.device = info;
  } else {
    Fail(hid, last.kind == LinkErrorKind::kLinkLost ? PortStatus::kGone : PortStatus::kSilent, last);
  }
}

// A worker: its link probed, whatever a device throws, and its port closed.
void Work(Run& run, CDevice& device, DetectedPort& port) {
  try {
    if (port.link == LinkKind::kUsbHid)
      ProbeHid(run, device, port);
    else
      ProbePort(run, device, port);
  } catch (...) {
    serial::CloseQuietly(&device);
    port.status = PortStatus::kCannotOpen;
    port.error = LinkError{LinkErrorKind::kOther, 0, "the link failed while it was probed"};
  }
  run.LinkDone();
}

}  // namespace

const char* PortStatusText(PortStatus status) {
  switch (status) {
    case PortStatus::kFound: return "a device answered";
    case PortStatus::kSilent: return "opens, but nothing answered";
    case PortStatus::kCannotOpen: return "cannot be opened";
    case PortStatus::kNotPermitted: return "found but not permitted";
    case PortStatus::kGone: return "gone while it was probed";
    case PortStatus::kStopped: return "stopped before it was done";
  }
  return "unknown";
}

const DetectedPort* FirstFound(const std::vector<DetectedPort>& ports) {
  for (const DetectedPort& port : ports)
    if (port.status == PortStatus::kFound) return &port;
  return nullptr;
}

int DetectAll(std::vector<DetectedPort>& ports, const DetectAllOptions& options) {
  Run run(options);
  std::vector<std::unique_ptr<CDevice>> devices;
  std::vector<std::thread> workers;
  const auto joinAll = [&workers] {
    for (std::thread& worker : workers)
      if (worker.joinable()) worker.join();
  };
  try {
    ports.clear();
    std::vector<std::wstring> names = CurrentEnv()->ComPortNames();
    if (options.probeHid) {
      DetectedPort hid;
      hid.link = LinkKind::kUsbHid;
      ports.push_back(std::move(hid));
    }
    for (std::wstring& name : names) {
      DetectedPort port;
      port.port = std::move(name);
      ports.push_back(std::move(port));
    }
    run.SetLinksToProbe(static_cast<int>(ports.size()));

    for (DetectedPort& port : ports) {
      devices.push_back(run.MakeDevice(port.link));
      CDevice* device = devices.back().get();
      if (device == nullptr) {
        Fail(port, PortStatus::kCannotOpen, LinkError{LinkErrorKind::kOther, 0, "no device object for this link"});
        run.LinkDone();
        continue;
      }
      // Opening the HID link costs nothing when no device is attached, and
      // doing it here, before any port is probed, keeps the order in which
      // a shared link sees the calls the same as CSelectProtocol's.
      if (port.link == LinkKind::kUsbHid && device->Open(kHidDeviceNumber) == 0) {
        const LinkError why = run.LastError(*device);
        Fail(port, OpenFailure(why), why);
        run.LinkDone();
        continue;
      }
      workers.emplace_back(Work, std::ref(run), std::ref(*device), std::ref(port));
    }
    joinAll();
  } catch (...) {
    // The port list could not be had, or a worker could not be started:
    // those that run are told to stop, and nothing is reported.
    run.Abort();
    joinAll();
    for (auto& device : devices) serial::CloseQuietly(device.get());
    ports.clear();
    return kResultException;
  }
  // Every worker closed its port; a HID link that did not open needs no close.
  return FirstFound(ports) != nullptr ? kResultOk : kResultNoDevice;
}

}  // namespace bplink
