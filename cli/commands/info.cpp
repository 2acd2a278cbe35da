// bplink info: what the device offers and what a plan for it may hold.

#include <iostream>

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
    PrintDevice(std::cout, session.device);
    _SUB_VERSION version;
    session.protocol->GetProtocolVersion(version);
    std::cout << "Protocol version: " << version.nMainVersion << '.' << version.nSubVersion << "\n\nData modes:\n";
    for (int mode = DATAMODE_BP; mode < kDataModeCount; ++mode)
      if (session.Takes(mode)) std::cout << "  " << mode << "  " << DataModeName(mode) << '\n';

    tag_SUPPORT_PROTOCOL device = session.device;
    session.protocol->GetCurDeviceInfo(device);
    const plan::FieldNames kept = plan::KeptFields(*session.family, device, session.FirstMode());
    if (kept.empty()) {
      std::cout << "\nPlan: this device takes none\n";
      return;
    }
    std::cout << "\nPlan fields it keeps: " << plan::Join(kept) << '\n';
    _UPLOAD_NEEDED_DATA needed;
    const int r = session.protocol->PC_DownloadBPInfoTimeInterval(needed);
    // Devices that keep no table of intervals get the library's list (the
    // serial families say so with 10) and the default plan, not their own.
    session.protocol->GetCurDeviceInfo(device);
    const bool reported = r == kResultOk && plan::IntervalQueryReadsPlan(*session.family, device);
    std::cout << "\nIntervals (minutes)" << (reported ? "" : ", not reported by the device; the usual ones") << ":\n"
              << "  day    " << List(needed.vecInterval1) << '\n'
              << "  night  " << List(needed.vecInterval2) << "\n\n";
    if (reported)
      PrintPlan(std::cout, needed.Info);
    else
      std::cout << "Current plan: not reported by the device (`bplink download` reads it)\n";
  });
}

}  // namespace bplink::cli
