#include "families.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "command_error.h"
#include "exit_status.h"
#include "options.h"

namespace bplink::cli {
namespace {

// The commands that talk to a device; `sim` serves one.
constexpr std::string_view kDeviceCommands[] = {"detect", "info", "download", "upload", "delete", "serve"};
constexpr std::string_view kServeCommand = "sim";
// Commands that only read and write files.
constexpr std::string_view kFileCommands[] = {"report", "history", "export", "archive", "review", "sign", "send"};
// Simulation options only a device simulated in process takes: on a
// pseudo-terminal the line itself sets the pace.
constexpr std::string_view kPace = "--sim-pace";

template <typename List>
bool Among(const List& list, std::string_view name) {
  return std::find(std::begin(list), std::end(list), name) != std::end(list);
}

// The --sim-* settings given, by option name.
std::vector<std::string> SettingsGiven(const GlobalOptions& o) {
  const SimSettings& s = o.sim_settings;
  const std::pair<bool, const char*> kGiven[] = {
      {s.device_type.has_value(), "--sim-type"},     {s.records.has_value(), "--sim-records"},
      {s.silent_after.has_value(), "--sim-silent-after"}, {s.pace_ms > 0, kPace.data()},
      {o.sim_plan.has_value(), "--sim-plan"},        {s.version.has_value(), "--sim-version"},
      {s.record_format.has_value(), "--sim-format"}, {s.spo2_format.has_value(), "--sim-spo2-format"},
      {s.spo2_samples.has_value(), "--sim-spo2"},    {s.variant.has_value(), "--sim-variant"},
      {s.home_days.has_value(), "--sim-home-days"}};
  std::vector<std::string> given;
  for (const auto& [set, name] : kGiven)
    if (set) given.emplace_back(name);
  return given;
}

std::string Listed(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

void CheckSimOptions(const GlobalOptions& options, std::string_view command) {
  std::vector<std::string> given = SettingsGiven(options);
  std::string named = "`";  // appended piecewise: GCC 12 at -O3 warns falsely on "lit" + std::string
  named.append(command).append("`");
  if (Among(kFileCommands, command)) {
    if (options.sim) given.insert(given.begin(), "--sim");
    if (!given.empty())
      throw CommandError(kExitBadInput, Listed(given) + ": " + named + " reads files and talks to no device");
  } else if (Among(kDeviceCommands, command)) {
    if (!options.sim && !given.empty())
      throw CommandError(kExitBadInput, Listed(given) + " set up a simulated device: give --sim FAMILY too");
  } else if (command == kServeCommand) {
    if (options.sim)
      throw CommandError(kExitBadInput, "--sim: `sim FAMILY` serves the family it names; give it once, there");
    if (options.sim_settings.pace_ms > 0)
      throw CommandError(kExitBadInput, std::string(kPace) + " slows a device simulated in process only; on a "
                                        "pseudo-terminal the line itself sets the pace");
  }
}

bool TakesGlobalOption(std::string_view command, std::string_view option) {
  if (Among(kFileCommands, command)) return false;
  if (command == kServeCommand) return option.starts_with("--sim-") && option != kPace;
  return true;
}

const std::vector<std::string>& FamilyNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const Family& family : Families()) all.emplace_back(family.name);
    return all;
  }();
  return names;
}

}  // namespace bplink::cli
