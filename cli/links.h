// The links a run talks through: the machine's USB HID and serial ports, or
// a simulated device in process, and why a link could not be had.
#pragma once

#include <bplink/bplink.h>
#include <bplink/host/link.h>
#include <bplink/scan/detect_all.h>

#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <vector>

#include "families.h"
#include "in_process_device.h"
#include "options.h"
#include "recording_device.h"

namespace bplink::cli {

// The machine's two links as one device, the way detection and the protocol
// objects take it: Open(0) reaches the USB HID device, Open(path, dcb) a
// serial port, and the other calls go to whichever was opened last.
class MachineLinks : public CDevice {
 public:
  void SetRecvTimeout(unsigned milliseconds) { com_.SetRecvTimeout(milliseconds); }
  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  // Why the last Open, RecvData or SendData on the USB HID link, and on
  // the link used last, failed (kind kNone when it did not).
  const LinkError& HidError() const { return hid_.GetLastLinkError(); }
  const LinkError& LastError() const;

 private:
  CDevice_HID hid_;
  CDevice_COM com_;
  CDevice* current_ = &com_;
};

// A serial port a search may use, and whether it can be opened now.
struct PortCheck {
  std::string name;
  bool opens = false;
  std::string reason;  // why it cannot: the transport's words; empty when unknown
};

// The transport device of one run: the machine's links or a simulated
// device in process, slowed by --sim-pace and wrapped for --trace.
class Link : public host::Link {
 public:
  explicit Link(const GlobalOptions& options);
  ~Link() override;
  CDevice& Device() override;
  // The machine's links; null when the device is simulated in process.
  const MachineLinks* Machine() const { return simulated_ ? nullptr : &machine_; }

  // Each serial port a search may use, in search order. On the machine each
  // is opened by a serial port of its own, so a port the search dropped
  // tells why (missing, in use, not allowed); a simulated port only says
  // whether it opens.
  std::vector<PortCheck> CheckPorts() const;
  // What DetectAll probes each link with: on the machine a USB HID or
  // serial port device of its own per worker; in process a view of the one
  // simulated device, taking one call at a time. Traced under --trace. A
  // search of the machine after a device was used (UsePort) takes every
  // port of --port, or of the machine, again.
  DetectAllOptions DetectionOptions() override;
  // Limits every later serial search (the protocol classes find their port
  // by themselves) to the port a device was found on.
  void UsePort(const std::wstring& name) const override;

  // Why a transfer of a family on `kind` found no link, for a message: each
  // serial port and why it cannot be opened (or that it opens and nothing
  // answered), or why the USB HID device did not open. Empty when the link
  // cannot tell.
  std::string WhyNoLink(LinkKind kind) const override;
  const LinkError* LastError() const override { return simulated_ ? nullptr : &machine_.LastError(); }

 private:
  std::unique_ptr<sim::DeviceModel> model_;
  std::unique_ptr<sim::InProcessDevice> simulated_;
  std::unique_ptr<CDevice> paced_;
  MachineLinks machine_;
  std::unique_ptr<sim::RecordingDevice> traced_;
  CDevice* device_ = nullptr;
  bool trace_ = false;
  unsigned timeout_ms_ = CDevice_COM::kDefaultRecvTimeoutMs;
  std::shared_ptr<std::mutex> shared_;  // one caller at a time on device_
  std::optional<std::vector<std::wstring>> search_;  // --port's ports; nullopt: every port
};

// The simulated device of `family` the options ask for. Throws CommandError.
std::unique_ptr<sim::DeviceModel> MakeSimulated(const Family& family, const GlobalOptions& options);

}  // namespace bplink::cli
