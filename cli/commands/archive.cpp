// bplink archive: what the archive offers beside filing a download: the
// worklist of studies, re-filing (move, merge-patients), filing a saved
// download (import), the schema (migrate), the audit log, and the grants of
// a clinic's PostgreSQL roles. Each subcommand is one call of the archive
// library.

#include <bplink/archive/saved_download.h>

#include <fstream>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "commands/archive_access.h"
#include "commands/archive_open.h"
#include "commands/commands.h"
#include "exit_status.h"
#include "table.h"

namespace bplink::cli {
namespace {

using nlohmann::json;

struct Common {
  std::optional<std::string> archive;
  std::string station;
  bool json = false;
};

// Runs `work` on the archive, a failure told as a command's.
template <typename Work>
void WithArchive(const Common& common, archive::OpenMode mode, Work&& work) {
  const auto opened = OpenArchive(ArchiveLocation(common.archive), mode);
  try {
    work(*opened, ProgramActor(common.station));
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitBadInput, e.what());
  }
}

std::string Numbers(const std::vector<std::int64_t>& ids) {
  std::string text;
  for (const auto id : ids) text += (text.empty() ? "" : ", ") + std::to_string(id);
  return text;
}

void AddStation(CLI::App& command, Common& common) {
  command.add_option("--station", common.station, "This PC's name in the audit log (default: host name)");
}

void AddMove(CLI::App& parent) {
  auto common = std::make_shared<Common>();
  auto recording = std::make_shared<std::int64_t>(0);
  auto target = std::make_shared<archive::PatientTarget>();
  CLI::App* command = parent.add_subcommand(
      "move", "File a recording's study (all its recordings) under another patient; kept in the audit log");
  AddArchiveOption(*command, common->archive);
  AddStation(*command, *common);
  command->add_option("RECORDING", *recording, "The recording's number, as bplink history shows it")->required();
  auto* patient = command->add_option("--patient", target->patient, "The patient's number, as bplink history shows it");
  auto* label = command->add_option("--patient-label", target->label,
                                    "Under the recording's own patient texts with this label instead (made when new)");
  patient->excludes(label);
  command->callback([common, recording, target, patient, label] {
    if (patient->count() + label->count() != 1)
      throw CommandError(kExitBadInput, "give the patient to move it to: --patient N or --patient-label LABEL");
    WithArchive(*common, archive::OpenMode::kExisting, [&](archive::Archive& a, const archive::Actor& actor) {
      const archive::MoveResult moved = a.Move(*recording, *target, actor);
      std::cout << "Moved study " << moved.study << " (recordings " << Numbers(moved.recordings) << ") from patient "
                << moved.from << " to patient " << moved.to << ".\n";
    });
  });
}

void AddMerge(CLI::App& parent) {
  auto common = std::make_shared<Common>();
  auto kept = std::make_shared<std::int64_t>(0);
  auto merged = std::make_shared<std::int64_t>(0);
  CLI::App* command = parent.add_subcommand(
      "merge-patients", "File every study of patient MERGED under patient KEPT, who stands for it from then on");
  AddArchiveOption(*command, common->archive);
  AddStation(*command, *common);
  command->add_option("KEPT", *kept, "The patient kept (its number, as bplink history shows it)")->required();
  command->add_option("MERGED", *merged, "The patient merged into it")->required();
  command->callback([common, kept, merged] {
    WithArchive(*common, archive::OpenMode::kExisting, [&](archive::Archive& a, const archive::Actor& actor) {
      a.MergePatients(*kept, *merged, actor);
      std::cout << "Merged patient " << *merged << " into patient " << *kept << ".\n";
    });
  });
}

void AddImport(CLI::App& parent) {
  auto common = std::make_shared<Common>();
  auto file = std::make_shared<std::string>();
  auto filing = std::make_shared<FilingOptions>();
  CLI::App* command = parent.add_subcommand(
      "import", "File a download saved as JSON (download --format json) as the download would have been filed");
  AddArchiveOption(*command, common->archive);
  AddStation(*command, *common);
  command->add_option("FILE", *file, "The saved download")->required();
  command->add_option("--device-label", filing->device_label, "What you call the device it came from");
  command->add_option("--patient-label", filing->patient_label, "What you add to the patient texts the device kept");
  command->callback([common, file, filing] {
    std::ifstream in(*file, std::ios::binary);
    if (!in) throw CommandError(kExitBadInput, "cannot read " + *file);
    archive::SavedDownload saved;
    try {
      saved = archive::ReadSavedDownload(in, *file);
    } catch (const archive::ArchiveError& e) {
      throw CommandError(kExitBadInput, e.what());
    }
    const auto opened = OpenArchive(ArchiveLocation(common->archive), archive::OpenMode::kCreate);
    try {
      const archive::StoreResult stored = opened->Store(saved.AsDownload(filing->device_label, filing->patient_label),
                                                        ProgramActor(common->station), "import");
      std::cerr << "imported " << stored.readings << " readings, " << stored.new_readings << " new";
      if (stored.samples > 0) std::cerr << "; " << stored.samples << " SpO2 samples, " << stored.new_samples << " new";
      std::cerr << " (recordings " << Numbers(stored.recordings) << ")\n";
    } catch (const archive::ArchiveError& e) {
      throw CommandError(kExitCannotWrite, std::string("the download was not filed: ") + e.what());
    }
  });
}

void AddMigrate(CLI::App& parent) {
  auto common = std::make_shared<Common>();
  CLI::App* command = parent.add_subcommand(
      "migrate", "Bring the archive's schema up to this bplink's, or make a new one: the archive owner's command");
  AddArchiveOption(*command, common->archive);
  AddStation(*command, *common);
  command->callback([common] {
    try {
      const archive::MigrateResult r =
          archive::Archive::Migrate(ArchiveLocation(common->archive), ProgramActor(common->station));
      if (r.from == r.to)
        std::cout << "The archive is at schema version " << r.to << " already.\n";
      else
        std::cout << "Migrated the archive from schema version " << r.from << " to " << r.to << ".\n";
    } catch (const archive::ArchiveError& e) {
      throw CommandError(kExitCannotWrite, e.what());
    }
  });
}

void AddLog(CLI::App& parent) {
  auto common = std::make_shared<Common>();
  auto filter = std::make_shared<archive::AuditFilter>();
  CLI::App* command = parent.add_subcommand("log", "The audit log: every change of filing, oldest first");
  AddArchiveOption(*command, common->archive);
  command->add_option("--study", filter->study, "Only this study's entries");
  command->add_option("--recording", filter->recording, "Only this recording's (and its study's) entries");
  command->add_option("--patient", filter->patient, "Only this patient's (and its studies') entries");
  command->add_option("--action", filter->action, "Only entries of this action (download, move, ...)");
  command->add_flag("--json", common->json, "Write JSON instead of a table");
  command->callback([common, filter] {
    WithArchive(*common, archive::OpenMode::kExisting, [&](archive::Archive& a, const archive::Actor&) {
      const auto entries = a.Log(*filter);
      if (common->json) {
        json doc = json::array();
        for (const auto& e : entries)
          doc.push_back({{"id", e.id}, {"at", e.at}, {"action", e.action}, {"user", e.user}, {"db_role", e.db_role},
                         {"station", e.station}, {"study", e.study}, {"recording", e.recording},
                         {"patient", e.patient}, {"details", json::parse(e.details, nullptr, false)}});
        std::cout << doc.dump(2) << '\n';
        return;
      }
      Table table;
      table.AddColumn("Entry");
      for (const char* title : {"At", "Action", "User", "Role", "Station"}) table.AddColumn(title, Table::Align::kLeft);
      for (const char* title : {"Study", "Recording", "Patient"}) table.AddColumn(title);
      table.AddColumn("Details", Table::Align::kLeft);
      const auto id = [](std::int64_t n) { return n == 0 ? std::string() : std::to_string(n); };
      for (const auto& e : entries)
        table.AddRow({std::to_string(e.id), e.at, e.action, e.user, e.db_role, e.station, id(e.study),
                      id(e.recording), id(e.patient), e.details});
      table.Print(std::cout);
    });
  });
}

void AddStudies(CLI::App& parent) {
  auto common = std::make_shared<Common>();
  auto filter = std::make_shared<archive::WorklistFilter>();
  auto state = std::make_shared<std::string>();
  CLI::App* command = parent.add_subcommand("studies", "The worklist: studies by state, patient, device and date");
  AddArchiveOption(*command, common->archive);
  command->add_option("--state", *state, "prepared, recording, downloaded, reviewed or signed")
      ->check(CLI::IsMember({"prepared", "recording", "downloaded", "reviewed", "signed"}));
  command->add_option("--patient", filter->patient, "A patient's number, or part of its identifier, name, label or texts");
  command->add_option("--device", filter->device, "A device's number, family name or label");
  command->add_option("--from", filter->from, "Studies ending on or after this date (YYYY-MM-DD)");
  command->add_option("--to", filter->to, "Studies starting on or before this date (YYYY-MM-DD)");
  command->add_flag("--json", common->json, "Write JSON instead of a table");
  command->callback([common, filter, state] {
    if (!state->empty()) filter->state = archive::ParseState(*state);
    WithArchive(*common, archive::OpenMode::kExisting, [&](archive::Archive& a, const archive::Actor&) {
      const auto studies = a.Worklist(*filter);
      if (common->json) {
        json doc = json::array();
        for (const auto& s : studies)
          doc.push_back({{"id", s.id}, {"patient", s.patient_id}, {"device", s.device_id},
                         {"state", archive::StateName(s.state)}, {"hooked_up_at", s.hooked_up_at},
                         {"opened_at", s.opened_at}, {"station", s.station}, {"user", s.user},
                         {"db_role", s.db_role}, {"start", s.start}, {"end", s.end},
                         {"recordings", s.recordings}, {"readings", s.readings},
                         {"plan", s.plan_json.empty() ? json(nullptr) : json::parse(s.plan_json, nullptr, false)}});
        std::cout << doc.dump(2) << '\n';
        return;
      }
      Table table;
      for (const char* title : {"Study", "Patient", "Device"}) table.AddColumn(title);
      for (const char* title : {"State", "Hooked up", "Start", "End"}) table.AddColumn(title, Table::Align::kLeft);
      table.AddColumn("Readings");
      table.AddColumn("Recordings", Table::Align::kLeft);
      for (const auto& s : studies)
        table.AddRow({std::to_string(s.id), std::to_string(s.patient_id), std::to_string(s.device_id),
                      std::string(archive::StateName(s.state)), s.hooked_up_at, s.start, s.end,
                      std::to_string(s.readings), Numbers(s.recordings)});
      table.Print(std::cout);
    });
  });
}

void AddGrants(CLI::App& parent) {
  auto role = std::make_shared<std::string>();
  auto name = std::make_shared<std::string>();
  CLI::App* command = parent.add_subcommand(
      "grants", "Print the SQL the archive's owner runs to give a PostgreSQL role what a station or a physician needs");
  command->add_option("ROLE", *role, "station (files downloads, opens and re-files studies) or physician (reads)")
      ->required()
      ->check(CLI::IsMember({"station", "physician"}));
  command->add_option("NAME", *name, "The database role's name")->required();
  command->callback([role, name] {
    for (const std::string& statement : archive::GrantStatements(
             *role == "station" ? archive::ArchiveRole::kStation : archive::ArchiveRole::kPhysician, *name))
      std::cout << statement << ";\n";
  });
}

}  // namespace

void AddArchiveCommand(CLI::App& app) {
  CLI::App* command = app.add_subcommand("archive", "The archive's studies, re-filing, import, schema and audit log");
  command->require_subcommand(1);
  AddStudies(*command);
  AddMove(*command);
  AddMerge(*command);
  AddImport(*command);
  AddMigrate(*command);
  AddLog(*command);
  AddGrants(*command);
}

}  // namespace bplink::cli
