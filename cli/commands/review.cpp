// bplink review RECORDING: the physician's inputs kept with an archived
// study (the same options as `bplink report` takes for a file, plus
// --include to take an exclusion back and --clear), checked by the report's
// own rules, stored, the study moved to reviewed and the change logged;
// then the verdict as the report now gives it.

#include <bplink/report/analysis.h>

#include <iostream>
#include <map>
#include <memory>

#include <nlohmann/json.hpp>

#include "commands/archive_access.h"
#include "commands/archive_open.h"
#include "commands/commands.h"
#include "commands/review_summary.h"
#include "exit_status.h"
#include "review_options.h"

namespace bplink::cli {
namespace {

using nlohmann::json;

struct ReviewCommandOptions {
  std::optional<std::string> archive;
  std::string station;
  std::int64_t recording = 0;
  ReviewOptions given;
  std::vector<std::string> include;
  std::vector<std::string> clear;
  bool amend = false;
  std::optional<std::string> amend_reason;
  std::string profile = "esh2023";
};

// The inputs --clear takes back, by the names the options have.
const std::map<std::string, void (*)(report::ReviewInputs&)>& Clearable() {
  static const std::map<std::string, void (*)(report::ReviewInputs&)> clear = {
      {"sleep", [](report::ReviewInputs& i) { i.sleep.reset(); }},
      {"exclusions", [](report::ReviewInputs& i) { i.exclusions.clear(); }},
      {"office", [](report::ReviewInputs& i) { i.office.reset(); }},
      {"clock-offset", [](report::ReviewInputs& i) { i.clock_offset_minutes = 0; }},
      {"indication", [](report::ReviewInputs& i) { i.indication.clear(); }},
      {"medication", [](report::ReviewInputs& i) { i.medication.clear(); }},
      {"referring-physician", [](report::ReviewInputs& i) { i.referring_physician.clear(); }},
  };
  return clear;
}

// "sleep: none to 23:00-06:30; exclusions: 1 added".
std::string ChangesText(const std::string& changes) {
  std::string text;
  const json doc = json::parse(changes);
  for (const auto& [key, change] : doc.items()) {
    std::string one = key + ": ";
    if (key == "exclusions") {
      const auto added = change["added"].size(), removed = change["removed"].size();
      one += (added ? std::to_string(added) + " added" : "") + std::string(added && removed ? ", " : "") +
             (removed ? std::to_string(removed) + " taken back" : "");
    } else {
      const auto word = [](const json& v) { return v.is_null() ? std::string("none") : v.get<std::string>(); };
      one += word(change["from"]) + " to " + word(change["to"]);
    }
    text += (text.empty() ? "" : "; ") + one;
  }
  return text;
}

void RunReview(const ReviewCommandOptions& o) {
  // The values are checked before the archive is opened.
  const report::ReviewInputs given = ReviewInputsOf(o.given);
  const auto archive = OpenArchive(ArchiveLocation(o.archive), archive::OpenMode::kExisting);
  const report::Profile& profile = ProfileNamed(o.profile);
  try {
    // An amendment with its reason opens as the workstation's Amend opens
    // one (the reason kept in the audit log); the inputs given then go into it.
    if (o.amend_reason) archive::Amend(*archive, o.recording, *o.amend_reason, ProgramActor(o.station));
    const archive::ReviewState before = archive->ReviewOf(o.recording);
    report::ReviewInputs inputs = before.review ? before.review->inputs : report::ReviewInputs{};
    for (const std::string& name : o.clear) Clearable().at(name)(inputs);
    if (!o.include.empty()) {
      const report::Recording filed = archive->Load(o.recording).recording;
      for (const std::string& time : o.include) report::TakeBackExclusion(inputs, filed, time, "--include");
    }
    inputs = report::ReviewOver(std::move(inputs), given);
    const archive::ReviewResult result = archive->Review(o.recording, inputs, o.amend, ProgramActor(o.station));

    std::cout << "Recording " << o.recording << " (study " << result.state.study << "): ";
    if (!result.changed)
      std::cout << "nothing changed: these are the inputs kept with it already.\n";
    else
      std::cout << "reviewed" << (result.changes == "{}" ? "" : "; " + ChangesText(result.changes)) << ".\n";
    if (result.state.amending)
      std::cout << "An amendment of version " << result.state.signatures.back().signed_version.version
                << ", to be signed again: bplink sign " << o.recording << " --file TEXT_FILE\n";
    PrintVerdict(archive::ReportableRecording(*archive, o.recording, profile), profile, std::cout);
  } catch (const report::InputError& e) {
    throw CommandError(kExitBadInput, std::string(e.what()) + "; nothing was stored");
  } catch (const archive::ReviewRefused& e) {
    throw CommandError(kExitBadInput, std::string(e.what()) + "; nothing was stored");
  } catch (const archive::NotFound& e) {
    throw CommandError(kExitBadInput, e.what());
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitCannotWrite, std::string(e.what()) + "; nothing was stored");
  }
}

}  // namespace

void AddReviewCommand(CLI::App& app) {
  auto o = std::make_shared<ReviewCommandOptions>();
  CLI::App* command = app.add_subcommand(
      "review", "Keep the physician's inputs with an archived study (the options of report), and show the verdict");
  command->add_option("RECORDING", o->recording, "The recording's number, as bplink history shows it")->required();
  AddArchiveOption(*command, o->archive);
  command->add_option("--station", o->station, "This PC's name in the audit log (default: host name)");
  AddReviewOptions(*command, o->given);
  command->add_option("--include", o->include, "take back the exclusion of the reading at TIME")
      ->allow_extra_args(false);
  std::vector<std::string> names;
  for (const auto& [name, clear] : Clearable()) names.push_back(name);
  command->add_option("--clear", o->clear, "take back an input: sleep, exclusions, office, clock-offset, "
                                           "indication, medication or referring-physician")
      ->allow_extra_args(false)
      ->check(CLI::IsMember(names));
  CLI::Option* amend = command->add_flag(
      "--amend", o->amend,
      "change a signed study's inputs: an amendment of its latest version, signed again with bplink sign");
  command->add_option("--amend-reason", o->amend_reason,
                      "with --amend: why the signed report is amended, kept in the audit log")
      ->needs(amend);
  command->add_option("--profile", o->profile, "thresholds of the verdict shown: esh2023 (default) or aha2017")
      ->check(CLI::IsMember({"esh2023", "aha2017"}));
  command->callback([o] { RunReview(*o); });
}

}  // namespace bplink::cli
