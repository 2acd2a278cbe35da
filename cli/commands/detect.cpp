// bplink detect: every device connected, with its port, and what each other
// link gave.

#include <iostream>

#include "commands/commands.h"
#include "download_print.h"
#include "exit_status.h"

namespace bplink::cli {

void AddDetectCommand(CLI::App& app, const GlobalOptions& global) {
  CLI::App* command = app.add_subcommand("detect", "Find every connected device and say what each port is");
  command->callback([&global] {
    Link link(global);
    const std::vector<DetectedPort> ports = DetectDevices(link);
    std::vector<const DetectedPort*> found, nothing;
    for (const DetectedPort& port : ports)
      (port.status == PortStatus::kFound && FamilyForProtocol(port.device.nProtocol) != nullptr ? found : nothing)
          .push_back(&port);
    if (found.empty()) throw CommandError(kExitNoDevice, NoDeviceMessage(ports));

    for (const DetectedPort* port : found) {
      // Its protocol object says what it is, as every other command's does.
      const Session session = Reach(link, *port);
      const tag_SUPPORT_PROTOCOL& d = session.device;
      const Family* family = session.family;
      std::cout << "Found: " << DeviceTypeText(d.nDeviceType) << " on " << LinkName(*port) << '\n'
                << "  device type  " << d.nDeviceType << '\n'
                << "  protocol     " << d.nProtocol << " (" << family->name << " family, " << family->className << ")\n"
                << "  variant      " << DeviceFieldText(d.nVariant) << '\n'
                << "  version      " << DeviceFieldText(d.nVersion) << '\n';
    }
    if (!nothing.empty()) std::cout << "Nothing on:\n";
    for (const DetectedPort* port : nothing) std::cout << "  " << LinkName(*port) << ": " << WhyNothing(*port) << '\n';
  });
}

}  // namespace bplink::cli
