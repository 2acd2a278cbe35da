// bplink delete: delete the stored measurements, after asking on a terminal.

#include <iostream>
#include <memory>

#include "commands/commands.h"
#include "download_print.h"
#include "exit_status.h"
#include "terminal.h"
#include "transfer.h"

namespace bplink::cli {
namespace {

struct DeleteOptions {
  int mode = DATAMODE_NONE;
  bool yes = false;
};

bool Confirmed(const Session& session, int mode) {
  std::cerr << "Delete the " << DataModeName(mode) << " measurements on the "
            << DeviceTypeText(session.device.nDeviceType) << "? They cannot be brought back. [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return answer == "y" || answer == "Y" || answer == "yes";
}

void RunDelete(const GlobalOptions& global, const DeleteOptions& options) {
  Link link(global);
  Session session = Connect(global, link);
  // A serial class would answer success without sending a byte.
  if (!session.family->deletes)
    throw CommandError(kExitRefused, "this device does not let a host delete its measurements (the " +
                                         std::string(session.family->name) + " family has no delete command)");
  const int mode = ChooseMode(session, options.mode);
  if (!options.yes && StdinIsTerminal() && !Confirmed(session, mode)) {
    std::cout << "Nothing deleted.\n";
    return;
  }
  CProtocolBase& protocol = *session.protocol;
  const TransferOutcome outcome =
      RunTransfer(session, [&protocol, mode] { return protocol.PC_Delete(static_cast<enum_DataMode>(mode)); });
  if (outcome.result == kResultNotInFamily)
    throw CommandError(kExitRefused, "this device does not let a host delete its measurements " + session.Explain(outcome.result));
  if (outcome.result != kResultOk)
    throw CommandError(session.ExitFor(outcome.result), "delete failed: " + session.Explain(outcome.result));
  std::cout << "Deleted.\n";
}

}  // namespace

void AddDeleteCommand(CLI::App& app, const GlobalOptions& global) {
  auto options = std::make_shared<DeleteOptions>();
  CLI::App* command = app.add_subcommand("delete", "Delete the stored measurements");
  AddModeOption(*command, options->mode);
  command->add_flag("-y,--yes", options->yes, "Do not ask for confirmation");
  command->callback([&global, options] { RunDelete(global, *options); });
}

}  // namespace bplink::cli
