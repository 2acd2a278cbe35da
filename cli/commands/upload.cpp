// bplink upload PLAN.json: check a plan file against the device, then write
// it to the device.
// bplink plan template: a commented default plan to start from, for a
// device or family when one is named.

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>

#include <bplink/archive/guard.h>
#include <bplink/host/device_info.h>
#include <bplink/host/study.h>
#include <bplink/plan/plan_check.h>
#if defined(BPLINK_WITH_SEND)
#include <bplink/delivery/gdt.h>
#endif

#include "commands/archive_access.h"
#include "commands/commands.h"
#include "erase_guard.h"
#include "exit_status.h"
#include "plan_file.h"
#include "terminal.h"
#include "transfer.h"

namespace bplink::cli {
namespace {

struct UploadOptions {
  std::string plan_file;
  int mode = DATAMODE_NONE;
  bool verify = false;
  FilingOptions filing;
  report::PatientInfo patient;  // with --archive: opens a study for this patient
  std::string patient_file;
  std::string gdt_request;  // a practice system's 6302 request naming the patient
  bool discard = false;
  bool yes = false;  // a plan the check warns about goes out without asking
};

#if defined(BPLINK_WITH_SEND)
// The patient a practice system's 6302 request names, as a study keeps it:
// its patient number (in no system the request says: --patient-system adds
// it), "Family, Given", birth date and sex.
report::PatientInfo GdtRequestPatient(const std::string& path) {
  const delivery::ParsedGdtRequest parsed = delivery::ReadGdtRequestFile(path);
  if (!parsed.request) throw report::InputError(parsed.error);
  const delivery::Patient& p = parsed.request->patient;
  if (p.id.empty()) throw report::InputError(path + ": the request names no patient number (field 3000)");
  report::PatientInfo patient;
  patient.id = p.id;
  patient.name = p.given.empty() ? p.family : p.family.empty() ? p.given : p.family + ", " + p.given;
  patient.birth_date = p.birth_date;
  patient.sex = p.sex;
  return patient;
}
#endif

// The --patient file (or --gdt-request), and the single options over it; checked.
report::PatientInfo StudyPatient(const UploadOptions& options) {
  report::PatientInfo patient;
  try {
    if (!options.patient_file.empty()) {
      std::ifstream file(options.patient_file, std::ios::binary);
      if (!file) throw report::InputError(options.patient_file + ": cannot open the file");
      patient = report::LoadPatientJson(file, options.patient_file);
    }
#if defined(BPLINK_WITH_SEND)
    if (!options.gdt_request.empty()) {
      if (!options.patient_file.empty())
        throw report::InputError("give the patient with --patient or --gdt-request, not both");
      patient = GdtRequestPatient(options.gdt_request);
    }
#endif
  } catch (const report::InputError& e) {
    throw CommandError(kExitBadInput, e.what());
  }
  patient = report::PatientOver(std::move(patient), options.patient);
  if (const std::string problem = report::CheckPatient(patient); !problem.empty())
    throw CommandError(kExitBadInput, "patient: " + problem);
  if (!patient.Empty() && !options.filing.archive)
    throw CommandError(kExitBadInput, "the patient inputs open a study, which the archive keeps: give --archive too");
  return patient;
}

// What the device allows in a plan (host::AllowedInPlan).
_UPLOAD_NEEDED_DATA AskAllowed(Session& session) {
  try {
    return host::AllowedInPlan(session);
  } catch (const host::DeviceError& e) {
    throw CommandError(session.ExitFor(e.Result()), e.what());
  }
}

// Reads the plan back and compares every field the device keeps with what
// was sent; the last line says it matched, or the command fails naming
// each field that differs.
void Verify(Session& session, const _BP_TRANSPORT_INFO& sent, int mode, const plan::FieldNames& kept) {
  CProtocolBase& protocol = *session.protocol;
  const TransferOutcome outcome =
      RunTransfer(session, [&protocol, mode] { return protocol.PC_Download(static_cast<enum_DataMode>(mode)); });
  if (outcome.result != kResultOk)
    throw CommandError(session.ExitFor(outcome.result), "reading the plan back failed: " + session.Explain(outcome.result));
  _DOWNLOAD_DATAINFO data;
  protocol.GetDownLoadData(&data);
  _BP_TRANSPORT_INFO back = data.Info;
  const plan::FieldNames read_back = plan::ReadBackFields(*session.family, session.DeviceNow(), mode);
  // The alarm switch value comes back with the interval query only.
  if (std::find(read_back.begin(), read_back.end(), "warn_switch") != read_back.end())
    back.nWarnSwitchInfo = AskAllowed(session).Info.nWarnSwitchInfo;
  std::cout << "Plan read back from the device:\n" << PlanToJson(back).dump(2) << '\n';
  const plan::FieldNames unseen = plan::Without(kept, read_back);
  if (!unseen.empty())
    std::cout << "Not compared (the device does not report them back): " << plan::Join(unseen) << '\n';
  const plan::FieldNames differ = plan::FieldsDiffering(sent, back, read_back);
  if (!differ.empty()) throw CommandError(kExitRefused, "the device kept a different plan: " + plan::Join(differ) + " differ");
  std::cout << "Verified: the device kept every field compared (" << plan::Join(read_back) << ").\n";
}

// Whether the person accepts the check's warnings (a plan that cannot give a
// valid recording): --yes, or asked on a terminal after the warnings were
// shown. Every warning is shown on standard error when it is accepted.
plan::UploadConsent WarningsAccepted(const plan::PlanCheck& check, bool yes) {
  if (check.warnings.empty()) return plan::UploadConsent::kWarningsNotAccepted;
  const bool ask = !yes && StdinIsTerminal();
  if (!yes && !ask) return plan::UploadConsent::kWarningsNotAccepted;
  for (const std::string& warning : check.warnings) std::cerr << "bplink: warning: " << warning << '\n';
  if (!ask) return plan::UploadConsent::kWarningsAccepted;
  std::cerr << "Upload this plan all the same? [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return answer == "y" || answer == "Y" || answer == "yes" ? plan::UploadConsent::kWarningsAccepted
                                                          : plan::UploadConsent::kWarningsNotAccepted;
}

void RunUpload(const GlobalOptions& global, const UploadOptions& options) {
  // The whole file and the patient are checked, and the archive opened and
  // proven writable, before any device is opened.
  const _BP_TRANSPORT_INFO plan = LoadPlan(options.plan_file);
  const report::PatientInfo patient = StudyPatient(options);
  const auto archive = OpenForFiling(options.filing);
  Link link(global);
  Session session = Connect(global, link);
  const int mode = ChooseMode(session, options.mode);
  CProtocolBase& protocol = *session.protocol;

  // Held to what the device allows before a byte of the plan is sent: the
  // check every upload door makes.
  const plan::PlanCheck check = plan::HoldToDevice(protocol, *session.family, mode, plan, options.plan_file);
  if (check.result == kResultNotInFamily)
    throw CommandError(kExitRefused, "upload failed: " + session.Explain(check.result) + "; " + check.Refusal());
  if (check.result != kResultOk)
    throw CommandError(session.ExitFor(check.result),
                       "asking the device what a plan may hold failed: " + session.Explain(check.result));
  if (!check.errors.empty()) throw CommandError(kExitBadInput, check.Refusal());
  if (!check.MaySend(WarningsAccepted(check, options.yes)))
    throw CommandError(kExitBadInput,
                       check.Refusal() + "\nnothing was uploaded: give --yes to upload this plan all the same");
  if (!check.dropped.empty())
    std::cerr << "bplink: warning: this device does not keep " << plan::Join(check.dropped)
              << "; the plan's values for them are not stored\n";

  // An upload that starts a new recording erases what the device holds:
  // not before it is filed, or the person said it may be lost.
  if (archive::Erases(*session.family, archive::Erasure::kUpload)) {
    std::vector<int> offered;
    for (int m = DATAMODE_BP; m < kDataModeCount; ++m)
      if (session.Offers(m)) offered.push_back(m);
    const HeldReadings held(session, archive::ModesHoldingEverything(session.device, offered),
                            "before the upload; nothing was uploaded");
    GuardErasure(archive::Erasure::kUpload, held, session.family->name, archive.get(), options.filing, options.discard,
                 StdinIsTerminal());
  }
  // The study is opened (prepared) before the plan goes out, and hooked up
  // once the device took it.
  std::optional<archive::StudyEntry> study;
  const archive::DeviceIdentity device{std::string(session.family->name), session.DeviceNow(),
                                       options.filing.device_label};
  try {
    if (archive && !patient.Empty()) {
      host::UploadStudy opened =
          host::OpenUploadStudy(*archive, patient, device, plan, ProgramActor(options.filing.station));
      if (opened.still_out) std::cerr << host::StillOutText(*opened.still_out) << '\n';
      study = std::move(opened.study);
    }
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitCannotWrite, std::string("the study could not be opened: ") + e.what() +
                                             "; nothing was uploaded");
  }

  protocol.SetUpLoadData(plan);
  const TransferOutcome outcome =
      RunTransfer(session, [&protocol, mode] { return protocol.PC_Upload(static_cast<enum_DataMode>(mode)); });
  if (outcome.result != kResultOk)
    throw CommandError(session.ExitFor(outcome.result),
                       "upload failed: " + session.Explain(outcome.result) +
                           (study ? "; study " + std::to_string(study->id) + " stays prepared (uploading again takes it up)"
                                  : ""));
  std::cout << "Plan uploaded.\n";
  if (study) {
    try {
      study = archive->StartRecording(study->id, ProgramActor(options.filing.station));
    } catch (const archive::ArchiveError& e) {
      throw CommandError(kExitCannotWrite, "the plan was uploaded, but study " + std::to_string(study->id) +
                                               " could not be marked hooked up: " + e.what());
    }
    std::cout << host::HookedUpText(*study, patient) << '\n';
  }
  if (options.verify) Verify(session, plan, mode, check.kept);
}

// The template for the device the options reach (--sim, --port), or for the
// family of --protocol without asking any device; none without either.
std::optional<TemplateFor> TemplateDevice(const GlobalOptions& global, int mode) {
  if (!global.sim && global.ports.empty()) {
    if (!global.protocol) return std::nullopt;
    const Family& family = *FamilyForProtocol(*global.protocol);
    tag_SUPPORT_PROTOCOL device;
    // A HID protocol code is its device type; the version is known only to a device.
    device.nDeviceType = family.link == LinkKind::kUsbHid ? *global.protocol : family.deviceType;
    device.nProtocol = *global.protocol;
    device.nVersion = 0;
    TemplateFor out{plan::KeptFields(family, device, mode == DATAMODE_NONE ? DATAMODE_BP : mode),
                    "protocol " + std::to_string(*global.protocol) + " (" + std::string(family.name) + " family)" +
                        (family.link == LinkKind::kUsbHid ? ", as its oldest devices keep it" : ""),
                    {}, {}};
    return out;
  }
  Link link(global);
  Session session = Connect(global, link);
  const int chosen = session.family->Uploads() ? ChooseMode(session, mode) : DATAMODE_NONE;
  TemplateFor out;
  if (session.family->Uploads()) {
    const _UPLOAD_NEEDED_DATA allowed = AskAllowed(session);
    out.intervals1 = allowed.vecInterval1;
    out.intervals2 = allowed.vecInterval2;
  }
  const tag_SUPPORT_PROTOCOL device = session.DeviceNow();
  out.kept = plan::KeptFields(*session.family, device, chosen);
  out.device = "this device (" + std::string(session.family->name) + " family, device type " +
               std::to_string(device.nDeviceType) + ")";
  return out;
}

}  // namespace

void AddUploadCommand(CLI::App& app, const GlobalOptions& global) {
  auto options = std::make_shared<UploadOptions>();
  CLI::App* command = app.add_subcommand(
      "upload", "Write a measurement plan (a JSON file) to the device, once the device allows every field of it");
  command->add_option("plan", options->plan_file, "The plan file; `bplink plan template` writes one")->required();
  AddModeOption(*command, options->mode);
  command->add_flag("--verify", options->verify, "Read the plan back and check the device kept every field it keeps");
  AddFilingOptions(*command, options->filing, false);
  command->add_option("--patient", options->patient_file,
                      "With --archive: open a study for this patient, a JSON file {\"id\", \"system\", \"name\", "
                      "\"birth_date\", \"sex\"} as report takes it");
#if defined(BPLINK_WITH_SEND)
  command->add_option("--gdt-request", options->gdt_request,
                      "With --archive: open a study for the patient a practice system's GDT 6302 request names "
                      "(patient number, name, birth date, sex), instead of --patient");
#endif
  command->add_option("--patient-id", options->patient.id, "With --archive: the patient's identifier (over --patient's)");
  command->add_option("--patient-system", options->patient.system,
                      "The system the identifier belongs to, a URI (over --patient's)");
  command->add_option("--patient-name", options->patient.name, "The patient's name (over --patient's)");
  command->add_option("--birth-date", options->patient.birth_date, "YYYY-MM-DD (over --patient's)");
  command->add_option("--sex", options->patient.sex, "female, male, other or unknown (over --patient's)")
      ->check(CLI::IsMember({"female", "male", "other", "unknown"}));
  command->add_flag("--discard", options->discard,
                    "Where the upload starts a new recording and there is no --archive: erase the readings the "
                    "device holds unread (asked on a terminal)");
  command->add_flag("-y,--yes", options->yes,
                    "Upload a plan that cannot give a valid recording (too few readings by day or night, none at "
                    "all, equal or swapped day and night starts) without asking");
  command->callback([&global, options] { RunUpload(global, *options); });
}

void AddPlanCommand(CLI::App& app, const GlobalOptions& global) {
  CLI::App* command = app.add_subcommand("plan", "Measurement plan files");
  command->require_subcommand(1);
  auto mode = std::make_shared<int>(DATAMODE_NONE);
  CLI::App* templ = command->add_subcommand(
      "template",
      "Print a commented default plan to start from; with --protocol, --sim or --port only the fields that "
      "device keeps");
  AddModeOption(*templ, *mode);
  templ->callback([&global, mode] { std::cout << PlanTemplate(TemplateDevice(global, *mode)); });
}

}  // namespace bplink::cli
