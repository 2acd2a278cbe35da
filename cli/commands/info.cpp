// bplink info: what the device offers and what a plan for it may hold.

#include <iostream>

#include <bplink/host/device_info.h>

#include "commands/commands.h"
#include "download_print.h"
#include "plan_file.h"

namespace bplink::cli {
namespace {

std::string List(const std::vector<int>& values) {
  std::string text;
  for (int v : values) text += (text.empty() ? "" : ", ") + std::to_string(v);
  return text.empty() ? "none" : text;
}

}  // namespace

void AddInfoCommand(CLI::App& app, const GlobalOptions& global) {
  CLI::App* command = app.add_subcommand("info", "Show the data modes, allowed intervals and plan of the device");
  command->callback([&global] {
    Link link(global);
    Session session = Connect(global, link);
    const host::DeviceInfo info = host::Describe(session);
    PrintDevice(std::cout, info.device);
    std::cout << "Protocol version: " << info.version.nMainVersion << '.' << info.version.nSubVersion
              << "\n\nData modes:\n";
    for (int mode : info.modes) std::cout << "  " << mode << "  " << DataModeName(mode) << '\n';

    if (info.kept.empty()) {
      std::cout << "\nPlan: this device takes none\n";
      return;
    }
    std::cout << "\nPlan fields it keeps: " << plan::Join(info.kept) << '\n';
    std::cout << "\nIntervals (minutes)" << (info.reported ? "" : ", not reported by the device; the usual ones")
              << ":\n"
              << "  day    " << List(info.allowed.vecInterval1) << '\n'
              << "  night  " << List(info.allowed.vecInterval2) << "\n\n";
    if (info.reported)
      PrintPlan(std::cout, info.allowed.Info);
    else
      std::cout << "Current plan: not reported by the device (`bplink download` reads it)\n";
  });
}

}  // namespace bplink::cli
