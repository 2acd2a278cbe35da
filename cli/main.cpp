// bplink: the command-line host.

#include <CLI/CLI.hpp>
#include <bplink/version.h>

#include <algorithm>
#include <iostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "commands/commands.h"
#include "exit_status.h"
#include "program_env.h"
#include "terminal.h"
#include "transfer.h"

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
  app.add_option("--sim-home-days", g.sim_settings.home_days,
                 "The simulated monitor (not a recorder) holds this many days of home monitoring up to yesterday, "
                 "morning and evening, instead of the day")
      ->check(CLI::Range(1, 366));
  app.add_option("--port", g.ports,
                 "Search for serial devices on this port only (e.g. /dev/ttyUSB0, or the path `bplink sim` printed); "
                 "given more than once, on those ports")
      ->allow_extra_args(false)
      ->take_all();
  app.add_option("--protocol", g.protocol, "Skip detection: the device speaks this protocol code (1 to 10)")
      ->check(CLI::Range(1, 10));
  app.add_flag("--trace", g.trace,
               "Write every frame sent and received to stderr, one line each: milliseconds since the start, "
               "hex and printable ASCII");
  app.add_option("--timeout", g.timeout_ms,
                 "Serial receive time-out in milliseconds (default: " +
                     std::to_string(CDevice_COM::kDefaultRecvTimeoutMs) + ")");
}

// CLI11 describes a choice by how it is checked ("ENUM:value in
// {csv->1,json->2,table->0} OR {1,2,0}", "TEXT:{hid,kx71}", "INT:INT in
// [1 - 8]"); a person reads the words: "table|csv|json", "hid|kx71", "1..8".
std::string ChoicesAsWords(std::string text) {
  static const std::regex kMapped(R"((?:ENUM:)?value in \{([^}]*)\} OR \{[^}]*\})");
  static const std::regex kRefused(R"(Check (\S+) (table\|\S+|[^ ]+\|[^ ]+) FAILED)");
  static const std::regex kListed(R"(TEXT:\{([^}]*)\})");
  static const std::regex kRange(R"(INT:INT in \[(-?[0-9]+) - (-?[0-9]+)\])");
  std::smatch m;
  while (std::regex_search(text, m, kMapped)) {
    // "csv->1,json->2,table->0": the words in the order of their values.
    std::vector<std::pair<std::string, std::string>> pairs;
    const std::string list = m[1];
    for (std::size_t at = 0; at <= list.size();) {
      const std::size_t end = std::min(list.find(',', at), list.size());
      const std::string item = list.substr(at, end - at);
      const std::size_t arrow = item.find("->");
      if (arrow != std::string::npos) pairs.emplace_back(item.substr(arrow + 2), item.substr(0, arrow));
      at = end + 1;
    }
    std::sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
      return a.first.size() != b.first.size() ? a.first.size() < b.first.size() : a.first < b.first;
    });
    std::string words;
    for (const auto& [value, word] : pairs) words += (words.empty() ? "" : "|") + word;
    text.replace(m.position(0), m.length(0), words);
  }
  text = std::regex_replace(text, kRefused, "$1 is not one of $2");
  while (std::regex_search(text, m, kListed)) {
    std::string words = m[1];
    std::replace(words.begin(), words.end(), ',', '|');
    text.replace(m.position(0), m.length(0), words);
  }
  return std::regex_replace(text, kRange, "$1..$2");
}

// Help as a person reads it: choices as words, and under each command the
// global options it takes. The exit statuses are the main help's footer only.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override {
    return ChoicesAsWords(CLI::Formatter::make_option_opts(option));
  }

  // A command takes the main help's footer as its own when it is added.
  std::string make_footer(const CLI::App* app) const override {
    return app->get_parent() == nullptr ? CLI::Formatter::make_footer(app) : "";
  }

  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    std::string help = CLI::Formatter::make_help(app, std::move(name), mode);
    const CLI::App* parent = app->get_parent();
    if (parent == nullptr || mode == CLI::AppFormatMode::Sub) return help;
    const std::string command = app->get_name();
    const std::vector<const CLI::Option*> globals = parent->get_options([&](const CLI::Option* option) {
      return option->nonpositional() && option != parent->get_help_ptr() && option != parent->get_version_ptr() &&
             TakesGlobalOption(command, option->get_name());
    });
    if (globals.empty()) return help;
    while (help.ends_with("\n\n")) help.pop_back();
    return help + make_group("Global options (before or after the command)", false, globals) + "\n";
  }
};

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
  app.formatter(std::make_shared<HelpFormatter>());
  app.failure_message([](const CLI::App* failed, const CLI::Error& e) {
    return ChoicesAsWords(CLI::FailureMessage::simple(failed, e));
  });
  GlobalOptions global;
  AddGlobalOptions(app, global);
  AddDetectCommand(app, global);
  AddInfoCommand(app, global);
  AddDownloadCommand(app, global);
  AddUploadCommand(app, global);
  AddPlanCommand(app, global);
  AddDeleteCommand(app, global);
  AddSimCommand(app, global);
  AddServeCommand(app, global);
  AddReportCommand(app);
  AddHistoryCommand(app);
  AddExportCommand(app);
  AddArchiveCommand(app);
  AddReviewCommand(app);
  AddSignCommand(app);
#if defined(BPLINK_WITH_SEND)
  AddSendCommand(app);
#endif
  // Before the command runs: options it would ignore are refused, and the
  // device's console lines go to the trace or nowhere.
  app.parse_complete_callback([&app, &global] {
    CheckSimOptions(global, app.get_subcommands().empty() ? "" : app.get_subcommands().front()->get_name());
    TheProgramConsole().ShowOn(global.trace ? &StderrLines() : nullptr);  // never glued onto the bar
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
