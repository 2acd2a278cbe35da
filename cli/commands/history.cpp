// bplink history: what the archive holds, as patients, devices and
// recordings with their counts; filtered by patient, device and date.

#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "commands/archive_open.h"
#include "commands/commands.h"
#include "download_print.h"
#include "exit_status.h"
#include "table.h"

namespace bplink::cli {

std::string PatientText(const archive::PatientEntry& p) {
  std::string text;
  if (!p.person.id.empty()) text = p.person.id + (p.person.system.empty() ? "" : " (" + p.person.system + ")");
  if (!p.person.name.empty()) text += (text.empty() ? "" : ", ") + p.person.name;
  if (!p.person.birth_date.empty()) text += (text.empty() ? "born " : ", born ") + p.person.birth_date;
  for (const auto& t : p.texts) text += (text.empty() ? "" : " / ") + t;
  if (!p.label.empty()) text += (text.empty() ? "" : " ") + ("[" + p.label + "]");
  return text.empty() ? "(no patient texts)" : text;
}

std::string DeviceText(const archive::DeviceEntry& d) {
  std::string text = d.family + ": " + report::DescribeDevice(d.device).description;
  if (!d.label.empty()) text += " [" + d.label + "]";
  return text;
}

namespace {

struct HistoryOptions {
  std::optional<std::string> archive;
  archive::Filter filter;
  bool json = false;
};

// "version 2 (1 superseded)", "version 1, amending", or empty.
std::string SignedText(const archive::RecordingEntry& r) {
  if (r.signed_versions == 0) return {};
  const int superseded = r.signed_versions - (r.amending ? 0 : 1);
  std::string text = "version " + std::to_string(r.signed_versions);
  if (r.amending) text += ", amending";
  if (superseded > 0)
    text += " (" + (superseded == 1 ? std::string("1") : "1-" + std::to_string(superseded)) + " superseded)";
  return text;
}

nlohmann::json ToJson(const archive::History& h) {
  nlohmann::json doc = {{"patients", nlohmann::json::array()},
                        {"devices", nlohmann::json::array()},
                        {"recordings", nlohmann::json::array()}};
  for (const auto& p : h.patients)
    doc["patients"].push_back({{"id", p.id}, {"texts", p.texts}, {"label", p.label},
                               {"identifier", p.person.id}, {"system", p.person.system}, {"name", p.person.name},
                               {"birth_date", p.person.birth_date}, {"sex", p.person.sex},
                               {"recordings", p.recordings}, {"readings", p.readings}});
  for (const auto& d : h.devices)
    doc["devices"].push_back({{"id", d.id}, {"family", d.family}, {"device_type", d.device.nDeviceType},
                              {"protocol", d.device.nProtocol}, {"variant", d.device.nVariant},
                              {"version", d.device.nVersion}, {"label", d.label},
                              {"recordings", d.recordings}, {"readings", d.readings}});
  for (const auto& r : h.recordings)
    doc["recordings"].push_back({{"id", r.id}, {"device", r.device_id}, {"patient", r.patient_id},
                                 {"study", r.study_id}, {"state", archive::StateName(r.state)},
                                 {"set_mode", r.set_mode}, {"start", r.start}, {"end", r.end},
                                 {"complete", r.complete}, {"readings", r.readings}, {"spo2_samples", r.samples},
                                 {"downloaded_at", r.downloaded_at}, {"station", r.station},
                                 {"plan_start", r.plan_start.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.plan_start)},
                                 {"reviewed", r.reviewed}, {"signed_versions", r.signed_versions},
                                 {"amending", r.amending}});
  return doc;
}

void PrintHistory(const archive::History& h, std::ostream& out) {
  Table patients;
  for (const char* title : {"Patient", "Recordings", "Readings"}) patients.AddColumn(title);
  patients.AddColumn("Texts", Table::Align::kLeft);
  for (const auto& p : h.patients)
    patients.AddRow({std::to_string(p.id), std::to_string(p.recordings), std::to_string(p.readings), PatientText(p)});
  out << "Patients\n";
  patients.Print(out);

  Table devices;
  for (const char* title : {"Device", "Recordings", "Readings"}) devices.AddColumn(title);
  devices.AddColumn("Description", Table::Align::kLeft);
  for (const auto& d : h.devices)
    devices.AddRow({std::to_string(d.id), std::to_string(d.recordings), std::to_string(d.readings), DeviceText(d)});
  out << "\nDevices\n";
  devices.Print(out);

  Table recordings;
  for (const char* title : {"Recording", "Study", "Device", "Patient", "Set", "Readings", "SpO2"})
    recordings.AddColumn(title);
  for (const char* title : {"State", "Signed", "Start", "End", "Complete", "Downloaded", "Station"})
    recordings.AddColumn(title, Table::Align::kLeft);
  for (const auto& r : h.recordings)
    recordings.AddRow({std::to_string(r.id), std::to_string(r.study_id), std::to_string(r.device_id),
                       std::to_string(r.patient_id), std::to_string(r.set_mode), std::to_string(r.readings),
                       std::to_string(r.samples), std::string(archive::StateName(r.state)), SignedText(r), r.start,
                       r.end, r.complete ? "yes" : "NO", r.downloaded_at, r.station});
  out << "\nRecordings\n";
  recordings.Print(out);
}

void RunHistory(const HistoryOptions& options) {
  const auto archive = OpenArchive(ArchiveLocation(options.archive), archive::OpenMode::kExisting);
  archive::History history;
  try {
    history = archive->Query(options.filter);
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitCannotWrite, e.what());
  }
  if (options.json)
    std::cout << ToJson(history).dump(2) << '\n';
  else
    PrintHistory(history, std::cout);
}

}  // namespace

void AddHistoryCommand(CLI::App& app) {
  auto options = std::make_shared<HistoryOptions>();
  CLI::App* command = app.add_subcommand("history", "List the patients, devices and recordings in the archive");
  AddArchiveOption(*command, options->archive);
  command->add_option("--patient", options->filter.patient,
                      "A patient's number, or part of its identifier, name, label or texts (case and spacing aside)");
  command->add_option("--device", options->filter.device,
                      "A device's number, family name or label (case and spacing aside)");
  const auto date = [](const std::string& value) {
    return report::ParseLocalTime(value + "T00:00") ? std::string() : "expected a date like 2024-03-01";
  };
  command->add_option("--from", options->filter.from, "Recordings ending on or after this date (YYYY-MM-DD)")
      ->check(date, "YYYY-MM-DD");
  command->add_option("--to", options->filter.to, "Recordings starting on or before this date (YYYY-MM-DD)")
      ->check(date, "YYYY-MM-DD");
  command->add_flag("--json", options->json, "Write JSON instead of tables");
  command->callback([options] { RunHistory(*options); });
}

}  // namespace bplink::cli
