// bplink: the command-line host.

#include <CLI/CLI.hpp>
#include <bplink/version.h>

#include <iostream>
#include <string>

#include "commands/commands.h"
#include "exit_status.h"
#include "program_env.h"
#include "terminal.h"

using namespace bplink::cli;

namespace {

void AddGlobalOptions(CLI::App& app, GlobalOptions& g) {
  app.add_option("--sim", g.sim, "Run against a simulated device of this family, in process")
      ->check(CLI::IsMember(FamilyNames()));
  app.add_option("--sim-type", g.sim_settings.device_type,
                 "HID device type of the simulated device: 1 ambulatory recorder (default), 2 or 4 monitor, "
                 "3 monitor with SpO2, 5 three-store monitor")
      ->check(CLI::Range(1, 5));
  app.add_option("--sim-records", g.sim_settings.records, "Readings the simulated device holds in its first store");
  app.add_option("--sim-silent-after", g.sim_settings.silent_after,
                 "The simulated device stops answering after sending this many records (not kx71)");
  app.add_option("--sim-pace", g.sim_settings.pace_ms,
                 "Milliseconds each receive from the in-process simulated device takes (a slow line)");
  app.add_option("--sim-plan", g.sim_plan, "The plan the simulated device keeps: a plan file, as `upload` takes");
  app.add_option("--sim-version", g.sim_settings.version,
                 "Version byte of the simulated HID device (default 2): from 3 it keeps an interval table, "
                 "from 4 an alarm switch, from 5 (type 1) a patient block; type 4 at 2 sends short alarm limits")
      ->check(CLI::Range(0, 255));
  app.add_option("--sim-format", g.sim_settings.record_format,
                 "Record format the simulated HID device sends readings in: 1 minutes from a start, "
                 "2 own time, 3 own time and two more bytes")
      ->check(CLI::Range(1, 3));
  app.add_option("--sim-spo2", g.sim_settings.spo2_samples,
                 "SpO2 samples the simulated monitor holds (hid type 3: default one a reading; kv32: default none)")
      ->check(CLI::Range(0, 0xFFFFFF));
  app.add_option("--sim-spo2-format", g.sim_settings.spo2_format,
                 "Format of the simulated HID type 3 monitor's SpO2 samples: 1 seconds from a start, 2 own time "
                 "(default)")
      ->check(CLI::Range(1, 2));
  app.add_option("--sim-variant", g.sim_settings.variant,
                 "Variant of the simulated recorder (kx71, hid type 1): 1 keeps no plan, 2 keeps one (default)")
      ->check(CLI::Range(1, 2));
  app.add_option("--port", g.ports,
                 "Search for serial devices on this port only (e.g. /dev/ttyUSB0, or the path `bplink sim` printed); "
                 "given more than once, on those ports")
      ->allow_extra_args(false)
      ->take_all();
  app.add_option("--protocol", g.protocol, "Skip detection: the device speaks this protocol code (1 to 10)")
      ->check(CLI::Range(1, 10));
  app.add_flag("--trace", g.trace, "Write every frame sent and received to stderr, in hex with timestamps");
  app.add_option("--timeout", g.timeout_ms, "Serial receive time-out in milliseconds");
}

}  // namespace

int main(int argc, char** argv) {
  bplink::SetEnv(&TheProgramEnv());
  bplink::SetConsole(&TheProgramConsole());
  PrepareConsole();
  InstallInterruptHandler();

  CLI::App app{"bplink: talk to blood-pressure monitors over USB HID and serial links"};
  // The library's own version: the program and the library are built as one.
  app.set_version_flag("--version", std::string("bplink ") + bplink::Version());
  app.require_subcommand(1);
  app.fallthrough();  // global options may follow the command
  // Options are --long on every system: a Windows build would otherwise take
  // an argument such as /tmp/plan.txt for an option called "tmp".
  app.allow_windows_style_options(false);
  app.footer(kExitStatusTable);
  GlobalOptions global;
  AddGlobalOptions(app, global);
  AddDetectCommand(app, global);
  AddInfoCommand(app, global);
  AddDownloadCommand(app, global);
  AddUploadCommand(app, global);
  AddPlanCommand(app, global);
  AddDeleteCommand(app, global);
  AddSimCommand(app, global);
  AddReportCommand(app);
  AddHistoryCommand(app);
  AddExportCommand(app);
  // Before the command runs: options it would ignore are refused, and the
  // device's console lines go to the trace or nowhere.
  app.parse_complete_callback([&app, &global] {
    CheckSimOptions(global, app.get_subcommands().empty() ? "" : app.get_subcommands().front()->get_name());
    TheProgramConsole().ShowOn(global.trace ? &std::cerr : nullptr);
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::RuntimeError& e) {  // the report command's own status
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kExitOk : kExitBadInput;
  } catch (const CommandError& e) {
    std::cerr << "bplink: " << e.what() << '\n';
    return e.Status();
  } catch (const std::exception& e) {
    std::cerr << "bplink: internal error: " << e.what() << '\n';
    return kExitFailed;
  }
  return kExitOk;
}
