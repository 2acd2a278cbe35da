// The links a run talks through: the machine's USB HID and serial ports, or
// a simulated device in process, and why a link could not be had.
#pragma once

#include <bplink/bplink.h>
#include <bplink/host/link.h>
#include <bplink/scan/detect_all.h>
#include <bplink/transport/machine_links.h>

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

// The transport device of one run: the machine's links or a simulated
// device in process, slowed by --sim-pace and wrapped for --trace.
class Link : public host::Link {
 public:
  explicit Link(const GlobalOptions& options);
  ~Link() override;
  CDevice& Device() override;
  // The machine's links; null when the device is simulated in process.
  const MachineLinks* Machine() const { return simulated_ ? nullptr : &machine_; }

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
