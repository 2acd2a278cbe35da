#include "session.h"

#include <optional>

#include "command_error.h"
#include "exit_status.h"

namespace bplink::cli {
namespace {

// Chooses the one device a command talks to: the only one found, or the
// only serial one when --port named where to look. Throws when there are
// several.
const DetectedPort* Choose(const std::vector<DetectedPort>& ports, const GlobalOptions& options) {
  std::vector<const DetectedPort*> usable, serial;
  for (const DetectedPort& port : ports) {
    if (!host::Usable(port)) continue;
    usable.push_back(&port);
    if (port.link == LinkKind::kSerial) serial.push_back(&port);
  }
  if (usable.size() > 1 && !options.ports.empty() && serial.size() == 1) return serial.front();
  if (usable.size() <= 1) return usable.empty() ? nullptr : usable.front();
  std::string names;
  bool hid = false;
  for (const DetectedPort* port : usable) {
    names += "\n  " + LinkName(*port) + ": " + std::string(FamilyForProtocol(port->device.nProtocol)->name) + " (protocol " +
             std::to_string(port->device.nProtocol) + ")";
    hid = hid || port->link == LinkKind::kUsbHid;
  }
  throw CommandError(kExitBadInput, "several devices found; name the one to use with --port PATH" +
                                        std::string(hid ? " (or --protocol N for the USB HID device)" : "") + ":" +
                                        names);
}

template <typename Reaching>
Session Reached(Reaching reach) {
  Session session;
  try {
    static_cast<host::Session&>(session) = reach();
  } catch (const host::DeviceError& e) {
    throw CommandError(ExitForResult(e.Result()), e.what());
  }
  return session;
}

}  // namespace

std::vector<DetectedPort> DetectDevices(Link& link) {
  try {
    return host::DetectDevices(link);
  } catch (const host::DeviceError& e) {
    throw CommandError(kExitFailed, e.what());
  }
}

int Session::ExitFor(int result) const { return Silent(result) ? kExitLinkFailed : ExitForResult(result); }

Session Connect(const GlobalOptions& options, Link& link) {
  if (options.protocol) return Reach(link, *options.protocol, std::nullopt);
  const std::vector<DetectedPort> ports = DetectDevices(link);
  const DetectedPort* chosen = Choose(ports, options);
  if (chosen == nullptr) throw CommandError(kExitNoDevice, NoDeviceMessage(ports));
  return Reach(link, *chosen);
}

Session Reach(Link& link, const DetectedPort& found) {
  return Reached([&] { return host::Reach(link, found); });
}

Session Reach(Link& link, int code, const std::optional<tag_SUPPORT_PROTOCOL>& detected) {
  // A protocol no family speaks can only have come from the command line.
  if (FamilyForProtocol(code) == nullptr)
    throw CommandError(kExitBadInput, "no device family speaks protocol " + std::to_string(code));
  return Reached([&] { return host::Reach(link, code, detected); });
}

}  // namespace bplink::cli
