// bplink detect: which device is connected.

#include <iostream>

#include "commands/commands.h"
#include "download_print.h"

namespace bplink::cli {

void AddDetectCommand(CLI::App& app, const GlobalOptions& global) {
  CLI::App* command = app.add_subcommand("detect", "Find the connected device and say what it is");
  command->callback([&global] {
    Link link(global);
    const Session session = Connect(global, link);
    const tag_SUPPORT_PROTOCOL& d = session.device;
    std::cout << "Found: " << DeviceTypeText(d.nDeviceType) << '\n'
              << "  device type  " << d.nDeviceType << '\n'
              << "  protocol     " << d.nProtocol << " (" << session.family->name << " family, "
              << session.family->className << ")\n"
              << "  variant      " << DeviceFieldText(d.nVariant) << '\n'
              << "  version      " << DeviceFieldText(d.nVersion) << '\n';
  });
}

}  // namespace bplink::cli
