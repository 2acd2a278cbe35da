// The transport a host program reaches its devices through: the machine's
// USB HID and serial ports, or a device simulated in process. The program
// (cli/links.h) makes one; the workstation (web/) is handed it.
#pragma once

#include <bplink/bplink.h>
#include <bplink/scan/detect_all.h>

#include <string>

namespace bplink::host {

class Link {
 public:
  virtual ~Link() = default;
  // What the protocol objects talk through.
  virtual CDevice& Device() = 0;
  // What DetectAll probes each link with.
  virtual DetectAllOptions DetectionOptions() = 0;
  // Limits every later serial search to the port a device was found on.
  virtual void UsePort(const std::wstring& name) const = 0;
  // Why a transfer of a family on `kind` found no link, for a message; empty
  // when the link cannot tell.
  virtual std::string WhyNoLink(LinkKind kind) const = 0;
  // Why the last call on the machine's link used last failed; null when the
  // device is simulated in process, whose failures have no system reason.
  virtual const LinkError* LastError() const = 0;
};

}  // namespace bplink::host
