// Reaching a device the way a host drives the library: identify the device
// on the run's link, or take the protocol the user named, and create the
// family's protocol object bound to that link.
#pragma once

#include <bplink/bplink.h>
#include <bplink/scan/detect_all.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "families.h"
#include "links.h"
#include "options.h"

namespace bplink::cli {

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
  // A transfer's result as an exit status, and in words, as this family
  // means it, with the link's reason where it tells why.
  int ExitFor(int result) const;
  std::string Explain(int result) const;
  bool Offers(int mode) const { return mode > 0 && mode < kDataModeCount && modes[mode] == 1; }
  // A mode a transfer may name: one the device offers, or all three stores
  // in one call, which three-store monitors take but never offer.
  bool Takes(int mode) const {
    return Offers(mode) || (mode == DATAMODE_ZONE_ALL && device.nDeviceType == kDeviceThreeStores);
  }
};

// Identifies the device (detection over USB HID and the serial ports, or
// --protocol) and binds its protocol object to the link. Detection takes the
// device on --port, or the only device found; with several it throws
// CommandError naming them, and when nothing answered, with what was tried,
// and why.
Session Connect(const GlobalOptions& options, Link& link);
// The protocol object of a device detection found, bound to the link (and,
// for a serial device, every later search limited to its port); or of the
// protocol `code`, with what detection said of it if it did. Throws
// CommandError when the device does not identify itself.
Session Reach(Link& link, const DetectedPort& found);
Session Reach(Link& link, int code, const std::optional<tag_SUPPORT_PROTOCOL>& detected);

// Every link of the run probed at once (DetectAll): the USB HID link first,
// then the serial ports in search order. Throws CommandError when the ports
// cannot be listed.
std::vector<DetectedPort> DetectDevices(Link& link);
// "USB HID", or the port's name.
std::string LinkName(const DetectedPort& port);
// Why a link gave no device a family serves, in words.
std::string WhyNothing(const DetectedPort& port);
// The message when no link gave a device: each link, and why.
std::string NoDeviceMessage(const std::vector<DetectedPort>& ports);

std::string DataModeName(int mode);

}  // namespace bplink::cli
