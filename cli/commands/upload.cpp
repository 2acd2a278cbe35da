// bplink upload PLAN.json: check a plan file against the device, then write
// it to the device.
// bplink plan template: a commented default plan to start from, for a
// device or family when one is named.

#include <algorithm>
#include <iostream>
#include <memory>

#include <bplink/host/device_info.h>

#include "commands/commands.h"
#include "exit_status.h"
#include "plan_file.h"
#include "transfer.h"

namespace bplink::cli {
namespace {

struct UploadOptions {
  std::string plan_file;
  int mode = DATAMODE_NONE;
  bool verify = false;
};

// What the device allows in a plan (host::AllowedInPlan).
_UPLOAD_NEEDED_DATA AskAllowed(Session& session) {
  try {
    return host::AllowedInPlan(session);
  } catch (const host::DeviceError& e) {
    throw CommandError(session.ExitFor(e.Result()), e.what());
  }
}

tag_SUPPORT_PROTOCOL DeviceNow(const Session& session) {
  tag_SUPPORT_PROTOCOL device = session.device;
  session.protocol->GetCurDeviceInfo(device);
  return device;
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
  const plan::FieldNames read_back = plan::ReadBackFields(*session.family, DeviceNow(session), mode);
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

void RunUpload(const GlobalOptions& global, const UploadOptions& options) {
  // The whole file is checked before any device is opened.
  const _BP_TRANSPORT_INFO plan = LoadPlan(options.plan_file);
  Link link(global);
  Session session = Connect(global, link);
  const int mode = ChooseMode(session, options.mode);
  CProtocolBase& protocol = *session.protocol;
  const plan::FieldNames kept = plan::KeptFields(*session.family, DeviceNow(session), mode);
  if (kept.empty()) throw CommandError(kExitRefused, "upload failed: " + session.Explain(kResultNotInFamily));

  // Held to what the device allows before a byte of the plan is sent; the
  // query may leave the device's own plan in the protocol object, so the
  // plan is handed over after it.
  const _UPLOAD_NEEDED_DATA allowed = AskAllowed(session);
  try {
    plan::CheckAllowed(plan, allowed, kept, options.plan_file);
  } catch (const plan::PlanError& e) {
    throw CommandError(kExitBadInput, e.what());
  }
  const plan::FieldNames dropped = plan::Without(plan::FieldsSet(plan), kept);
  if (!dropped.empty())
    std::cerr << "bplink: warning: this device does not keep " << plan::Join(dropped)
              << "; the plan's values for them are not stored\n";

  protocol.SetUpLoadData(plan);
  const TransferOutcome outcome =
      RunTransfer(session, [&protocol, mode] { return protocol.PC_Upload(static_cast<enum_DataMode>(mode)); });
  if (outcome.result != kResultOk)
    throw CommandError(session.ExitFor(outcome.result), "upload failed: " + session.Explain(outcome.result));
  std::cout << "Plan uploaded.\n";
  if (options.verify) Verify(session, plan, mode, kept);
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
  const tag_SUPPORT_PROTOCOL device = DeviceNow(session);
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
