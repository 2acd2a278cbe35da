// Reaching a device the way a host drives the library: every link probed at
// once, each told in words, and the protocol object of the device found,
// bound to the link with the host's progress variables. The program and the
// workstation both start every transfer from here.
#pragma once

#include <bplink/bplink.h>
#include <bplink/host/link.h>
#include <bplink/scan/detect_all.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bplink::host {

// A device that could not be reached or identified: the library's result
// code and the reason in words.
class DeviceError : public std::runtime_error {
 public:
  DeviceError(int result, const std::string& message) : std::runtime_error(message), result_(result) {}
  int Result() const { return result_; }

 private:
  int result_;
};

// A device that answered, and the protocol object that serves it.
struct Session {
  // The host's three progress variables, at a fixed place while the session moves.
  struct Progress {
    int percent = 0;
    int state = 0;
    enum_TransportType stage = TRANSPORT_BP_MODE0;
  };
  std::unique_ptr<Progress> progress;
  const Family* family = nullptr;
  std::unique_ptr<CProtocolBase> protocol;
  tag_SUPPORT_PROTOCOL device;
  int modes[kDataModeCount] = {};
  const Link* link = nullptr;  // what the protocol object talks through

  int FirstMode() const;  // 0 when none is offered
  bool Offers(int mode) const { return mode > 0 && mode < kDataModeCount && modes[mode] == 1; }
  // Whether a transfer may ask for `mode`: one it offers, or all three
  // stores in one call, which three-store monitors take but never offer.
  bool Takes(int mode) const { return Offers(mode) || (mode == DATAMODE_ZONE_ALL && device.nDeviceType == kDeviceThreeStores); }
  // A transfer's result in words, as this family means it ("the device
  // stopped answering"), with the link's reason where it tells why.
  std::string Explain(int result) const;
  // Whether `result` is this family's answer to a device falling silent.
  bool Silent(int result) const;
  // The device as it is now: the HID class learns its version during transfers.
  tag_SUPPORT_PROTOCOL DeviceNow() const;
};

// The protocol object of a device detection found, bound to the link (and,
// for a serial device, every later search limited to its port); or of the
// protocol `code`, with what detection said of it if it did. Throws
// DeviceError when no family speaks `code` (kResultNotInFamily) or the
// device does not identify itself.
Session Reach(Link& link, const DetectedPort& found);
Session Reach(Link& link, int code, const std::optional<tag_SUPPORT_PROTOCOL>& detected);

// Every link probed at once (DetectAll): the USB HID link first, then the
// serial ports in search order. Throws DeviceError when the ports cannot be
// listed.
std::vector<DetectedPort> DetectDevices(Link& link);
// A family serves the device found on this link.
bool Usable(const DetectedPort& port);
// "USB HID", or the port's name.
std::string LinkName(const DetectedPort& port);
std::string PortName(const std::wstring& name);
// Why a link gave no device a family serves, in words.
std::string WhyNothing(const DetectedPort& port);
// The message when no link gave a device: each link, and why.
std::string NoDeviceMessage(const std::vector<DetectedPort>& ports);

// "blood pressure", "store 2", ...
std::string DataModeName(int mode);
// "ambulatory recorder", "monitor with SpO2", ...
std::string DeviceTypeText(int deviceType);
// A variant or version, or "not reported" for what detection leaves unset.
std::string DeviceFieldText(int value);

}  // namespace bplink::host
