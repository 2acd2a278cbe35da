// Why a serial search found no device: each port it may use, and whether it
// opens. The protocol classes search by themselves and leave a port the
// Env's probe drops unopened, so their own device has nothing to say about
// it; this opens each such port once more, with a port object of its own, to
// learn the system's reason. Used by the C interface and the program, which
// say the same about the same ports; not part of the exported C++ API.
#pragma once

#include <bplink/device.h>

#include <string>
#include <vector>

namespace bplink {

struct PortCheck {
  std::wstring name;  // as the Env lists it
  bool opens = false;
  LinkError error;    // why it does not; kind kNone when it opens
};

// Every port CurrentEnv() lists, in search order: one the Env's probe takes
// opens; of the others the system's reason, from an open of our own. Never
// throws; an Env that cannot list its ports gives none.
std::vector<PortCheck> CheckComPorts();

// The checks as one text: "ttyUSB9 cannot be opened: no such file or
// directory; ttyS0 opens, but no device answered"; "no serial port found"
// when there were none.
std::string WhyNoComPort(const std::vector<PortCheck>& checks);

}  // namespace bplink
