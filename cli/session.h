// Reaching a device the way a host drives the library (the host library,
// host/): identify the device on the run's link, or take the protocol the
// user named, and create the family's protocol object bound to that link.
// What the program adds: choosing one device among those found, and
// failures as exit statuses.
#pragma once

#include <bplink/bplink.h>
#include <bplink/host/session.h>
#include <bplink/scan/detect_all.h>

#include <optional>
#include <string>
#include <vector>

#include "families.h"
#include "links.h"
#include "options.h"

namespace bplink::cli {

using host::DataModeName;
using host::LinkName;
using host::NoDeviceMessage;
using host::PortName;
using host::WhyNothing;

// A device that answered, and the protocol object that serves it.
struct Session : host::Session {
  // A transfer's result as an exit status, as this family means it.
  int ExitFor(int result) const;
};

// Identifies the device (detection over USB HID and the serial ports, or
// --protocol) and binds its protocol object to the link. Detection takes the
// device on --port, or the only device found; with several it throws
// CommandError naming them, and when nothing answered, with what was tried,
// and why.
Session Connect(const GlobalOptions& options, Link& link);
// host::Reach, failures as CommandError.
Session Reach(Link& link, const DetectedPort& found);
Session Reach(Link& link, int code, const std::optional<tag_SUPPORT_PROTOCOL>& detected);

// host::DetectDevices; throws CommandError when the ports cannot be listed.
std::vector<DetectedPort> DetectDevices(Link& link);

}  // namespace bplink::cli
