// bplink download: fetch what a device stored and show it as tables.

#include <bplink/bplink.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "commands/commands.h"
#include "report.h"
#include "simulated.h"

namespace bplink::cli {
namespace {

struct DownloadOptions {
  std::optional<std::string> sim_family;
  int mode = DATAMODE_BP;
};

int RunDownload(const DownloadOptions& options) {
  std::unique_ptr<SimulatedLink> simulated;
  CDevice_HID hid;
  CDevice* device = &hid;
  if (options.sim_family) {
    simulated = MakeSimulatedLink(*options.sim_family);
    device = &simulated->Device();
  }

  CProtocol_NEW protocol;
  int progress = 0, state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
  protocol.SetDevice(device, false);
  protocol.SetProgressInfo(&progress, &state, &stage);
  const int result = protocol.PC_Download(static_cast<enum_DataMode>(options.mode));
  if (result != kResultOk) {
    std::cerr << "bplink: download failed: " << ResultText(result) << '\n';
    return 1;
  }

  tag_SUPPORT_PROTOCOL info;
  protocol.GetCurDeviceInfo(info);
  _DOWNLOAD_DATAINFO data;
  protocol.GetDownLoadData(&data);

  std::cout << '\n';
  PrintDevice(std::cout, info);
  std::cout << '\n';
  if (info.nDeviceType == kDeviceThreeStores) {
    PrintRecords(std::cout, "Store 1", data.ZoneSet1);
    PrintRecords(std::cout, "Store 2", data.ZoneSet2);
    PrintRecords(std::cout, "Store 3", data.ZoneSet3);
    return 0;
  }
  // Only data modes 1 and 2 read the plan, and recorders of variant 1 keep none.
  const bool planRead = (options.mode == DATAMODE_BP || options.mode == DATAMODE_BP_SPO2) &&
                        !(info.nDeviceType == kDeviceAmbulatory && info.nVariant == 1);
  if (planRead)
    PrintPlan(std::cout, data.Info);
  else
    std::cout << "Plan: not read in data mode " << options.mode << '\n';
  std::cout << '\n';
  PrintRecords(std::cout, "Set 1", data.BPSet);
  if (info.nDeviceType == kDeviceAmbulatory) {
    std::cout << '\n';
    PrintRecords(std::cout, "Set 2", data.BPSet2);
  }
  if (info.nDeviceType == kDeviceWithSpO2)
    std::cout << "\nSpO2: " << data.SpO2Set.vecRecords.size() << " samples\n";
  return 0;
}

}  // namespace

void AddDownloadCommand(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<DownloadOptions>();
  CLI::App* command = app.add_subcommand("download", "Download the stored plan and measurements");
  command->add_option("--sim", options->sim_family, "Talk to a simulated device of this family")
      ->check(CLI::IsMember(SimulatedFamilies()));
  command->add_option("--mode", options->mode, "Data mode: which stored data to download (1 to 8)")
      ->check(CLI::Range(0, 8))
      ->capture_default_str();
  command->callback([options, &exit_code] { exit_code = RunDownload(*options); });
}

}  // namespace bplink::cli
