// What several commands share: choosing the data mode and writing output.

#include <filesystem>
#include <fstream>
#include <iostream>

#include <bplink/report/report.h>

#include "commands/commands.h"
#include "exit_status.h"
#include "plan_file.h"

namespace bplink::cli {

void AddModeOption(CLI::App& command, int& mode) {
  command.add_option("--mode", mode, "Data mode (1 to 8); default: the first the device offers")
      ->check(CLI::Range(1, 8));
}

int ChooseMode(const Session& session, int asked) {
  std::string offered;
  for (int mode = DATAMODE_BP; mode < kDataModeCount; ++mode)
    if (session.Offers(mode)) offered += (offered.empty() ? "" : ", ") + std::to_string(mode) + " (" + DataModeName(mode) + ")";
  if (asked == DATAMODE_NONE) {
    if (session.FirstMode() == DATAMODE_NONE) throw CommandError(kExitRefused, "the device offers no data mode");
    return session.FirstMode();
  }
  if (!session.Takes(asked))
    throw CommandError(kExitRefused, "the device does not offer data mode " + std::to_string(asked) +
                                         "; it offers " + (offered.empty() ? "none" : offered));
  return asked;
}

_BP_TRANSPORT_INFO LoadPlan(const std::string& path) {
  // A directory opens as a stream on some systems and fails only when read.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) throw CommandError(kExitBadInput, path + " is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CommandError(kExitBadInput, "cannot read " + path);
  try {
    return plan::ReadPlanFile(in, path);
  } catch (const plan::PlanError& e) {
    throw CommandError(kExitBadInput, e.what());
  }
}

void CheckOutput(const std::string& path) {
  if (path.empty() || path == "-") return;
  if (const std::string problem = report::OutputProblem(path); !problem.empty())
    throw CommandError(kExitCannotWrite, "cannot write " + path + ": " + problem);
}

void WriteOutput(const std::string& path, const std::string& text) {
  if (path.empty() || path == "-") {
    std::cout << text << std::flush;
    if (!std::cout) throw CommandError(kExitCannotWrite, "cannot write to standard output");
    return;
  }
  CheckOutput(path);
  std::ofstream file(path, std::ios::binary);
  file << text;
  file.close();
  if (!file) throw CommandError(kExitCannotWrite, "cannot write " + path + ": writing failed (disk full?)");
}

}  // namespace bplink::cli
