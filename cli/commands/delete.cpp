// bplink delete: delete the stored measurements, after asking on a terminal.
//
// The device's answer to a delete says nothing about the records, so the
// store is read before (to ask about, and report, what goes) and after (to
// be sure it went).

#include <iostream>
#include <memory>

#include <bplink/host/device_info.h>

#include "commands/commands.h"
#include "download_print.h"
#include "download_view.h"
#include "exit_status.h"
#include "terminal.h"
#include "transfer.h"

namespace bplink::cli {
namespace {

struct DeleteOptions {
  int mode = DATAMODE_NONE;
  bool yes = false;
};

std::string Records(std::size_t n) { return std::to_string(n) + (n == 1 ? " record" : " records"); }

bool Confirmed(const Session& session, int mode, std::size_t held) {
  std::cerr << "Delete the " << Records(held) << " (" << DataModeName(mode) << ") on the "
            << DeviceTypeText(session.device.nDeviceType) << "? They cannot be brought back. [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return answer == "y" || answer == "Y" || answer == "yes";
}

// The records the device holds in `mode`, downloaded to count them. `when`
// says which count failed. Throws CommandError.
std::size_t CountRecords(Session& session, int mode, const std::string& when) {
  CProtocolBase& protocol = *session.protocol;
  const TransferOutcome outcome =
      RunTransfer(session, [&protocol, mode] { return protocol.PC_Download(static_cast<enum_DataMode>(mode)); },
                  DownloadParts(session, mode));
  if (outcome.interrupted) throw CommandError(kExitInterrupted, "stopped " + when);
  if (outcome.result != kResultOk)
    throw CommandError(session.ExitFor(outcome.result),
                       "the records could not be counted " + when + ": " + session.Explain(outcome.result));
  _DOWNLOAD_DATAINFO data;
  protocol.GetDownLoadData(&data);
  return ViewOf(data, session.device, mode, false).RecordCount();
}

void RunDelete(const GlobalOptions& global, const DeleteOptions& options) {
  // The question is what keeps a recording from being lost by a slip; a
  // script that means it says --yes.
  if (!options.yes && !StdinIsTerminal())
    throw CommandError(kExitBadInput,
                       "nothing deleted: standard input is not a terminal to ask on; give --yes to delete without asking");
  Link link(global);
  Session session = Connect(global, link);
  // Known before the records are counted.
  if (const std::string why = host::WhyNoDelete(session); !why.empty()) throw CommandError(kExitRefused, why);
  const int mode = ChooseMode(session, options.mode);
  const std::size_t held = CountRecords(session, mode, "before deleting; nothing deleted");
  if (held == 0) {
    std::cout << "Nothing to delete: the device holds no records (" << DataModeName(mode) << ").\n";
    return;
  }
  if (!options.yes && !Confirmed(session, mode, held)) {
    std::cout << "Nothing deleted.\n";
    return;
  }
  CProtocolBase& protocol = *session.protocol;
  const TransferOutcome outcome =
      RunTransfer(session, [&protocol, mode] { return protocol.PC_Delete(static_cast<enum_DataMode>(mode)); });
  if (outcome.result == kResultNotInFamily)
    throw CommandError(kExitRefused, "this device does not let a host delete its measurements: " + session.Explain(outcome.result));
  if (outcome.result != kResultOk)
    throw CommandError(session.ExitFor(outcome.result), "delete failed: " + session.Explain(outcome.result));
  const std::size_t left = CountRecords(session, mode, "after deleting");
  if (left != 0)
    throw CommandError(kExitRefused, "the device acknowledged the delete but still holds " + Records(left) + " of " +
                                         std::to_string(held) + " (" + DataModeName(mode) + ")");
  std::cout << "Deleted " << Records(held) << " (" << DataModeName(mode) << ").\n";
}

}  // namespace

void AddDeleteCommand(CLI::App& app, const GlobalOptions& global) {
  auto options = std::make_shared<DeleteOptions>();
  CLI::App* command = app.add_subcommand("delete", "Delete the stored measurements (asks first; --yes where no one can answer)");
  AddModeOption(*command, options->mode);
  command->add_flag("-y,--yes", options->yes, "Do not ask for confirmation (needed when standard input is not a terminal)");
  command->callback([&global, options] { RunDelete(global, *options); });
}

}  // namespace bplink::cli
