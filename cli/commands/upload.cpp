// bplink upload PLAN.json: check a plan file, then write it to the device.
// bplink plan template: a commented default plan to start from.

#include <iostream>
#include <memory>

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

constexpr std::size_t kKeptPatientTexts = 2;

// Reads the plan back and compares what the device keeps with what was sent.
void Verify(Session& session, const _BP_TRANSPORT_INFO& sent, int mode) {
  CProtocolBase& protocol = *session.protocol;
  const TransferOutcome outcome =
      RunTransfer(session, [&protocol, mode] { return protocol.PC_Download(static_cast<enum_DataMode>(mode)); });
  if (outcome.result != kResultOk)
    throw CommandError(session.ExitFor(outcome.result), "reading the plan back failed: " + session.Explain(outcome.result));
  _DOWNLOAD_DATAINFO data;
  protocol.GetDownLoadData(&data);
  const nlohmann::json want = PlanToJson(sent);
  const nlohmann::json got = PlanToJson(data.Info);
  std::string differ;
  for (const std::string& member : PlanMembers(*session.family)) {
    if (member != "patient") {
      if (want[member] != got[member]) differ += " " + member;
      continue;
    }
    for (std::size_t i = 0; i < kKeptPatientTexts; ++i)
      if (want[member][i] != got[member][i]) differ += " patient[" + std::to_string(i) + "]";
  }
  std::cout << "Plan read back from the device:\n" << got.dump(2) << '\n';
  if (!differ.empty()) throw CommandError(kExitRefused, "the device kept a different plan:" + differ);
}

void RunUpload(const GlobalOptions& global, const UploadOptions& options) {
  // The whole file is checked before any device is opened.
  const _BP_TRANSPORT_INFO plan = LoadPlan(options.plan_file);
  Link link(global);
  Session session = Connect(global, link);
  const int mode = ChooseMode(session, options.mode);
  CProtocolBase& protocol = *session.protocol;
  protocol.SetUpLoadData(plan);
  const TransferOutcome outcome =
      RunTransfer(session, [&protocol, mode] { return protocol.PC_Upload(static_cast<enum_DataMode>(mode)); });
  if (outcome.result != kResultOk)
    throw CommandError(session.ExitFor(outcome.result), "upload failed: " + session.Explain(outcome.result));
  std::cout << "Plan uploaded.\n";
  if (options.verify) Verify(session, plan, mode);
}

}  // namespace

void AddUploadCommand(CLI::App& app, const GlobalOptions& global) {
  auto options = std::make_shared<UploadOptions>();
  CLI::App* command = app.add_subcommand("upload", "Write a measurement plan (a JSON file) to the device");
  command->add_option("plan", options->plan_file, "The plan file; `bplink plan template` writes one")->required();
  AddModeOption(*command, options->mode);
  command->add_flag("--verify", options->verify, "Read the plan back and check the device kept it");
  command->callback([&global, options] { RunUpload(global, *options); });
}

void AddPlanCommand(CLI::App& app) {
  CLI::App* command = app.add_subcommand("plan", "Measurement plan files");
  command->require_subcommand(1);
  CLI::App* templ = command->add_subcommand("template", "Print a commented default plan to start from");
  templ->callback([] { std::cout << PlanTemplate(); });
}

}  // namespace bplink::cli
