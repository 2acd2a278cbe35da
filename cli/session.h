// Reaching a device the way a host drives the library: identify the device
// on the run's link, or take the protocol the user named, and create the
// family's protocol object bound to that link.
#pragma once

#include <bplink/bplink.h>

#include <memory>
#include <string>

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
};

// Identifies the device (detection over USB HID and the serial ports, or
// --protocol) and binds its protocol object to the link. Throws CommandError,
// with what was tried, and why, when nothing answered.
Session Connect(const GlobalOptions& options, Link& link);

std::string DataModeName(int mode);

}  // namespace bplink::cli
