// bplink delete: delete the stored measurements, after asking on a terminal.
//
// The device's answer to a delete says nothing about the records, so the
// store is read before (to ask about, and report, what goes) and after (to
// be sure it went).

#include <iostream>
#include <memory>

#include <bplink/host/device_info.h>

#include "commands/archive_access.h"
#include "commands/commands.h"
#include "download_print.h"
#include "download_view.h"
#include "erase_guard.h"
#include "exit_status.h"
#include "terminal.h"
#include "transfer.h"

namespace bplink::cli {
namespace {

struct DeleteOptions {
  int mode = DATAMODE_NONE;
  bool yes = false;
  bool discard = false;
  FilingOptions filing;
};

std::string Records(std::size_t n) { return std::to_string(n) + (n == 1 ? " record" : " records"); }

bool Confirmed(const Session& session, int mode, std::size_t held) {
  std::cerr << "Delete the " << Records(held) << " (" << DataModeName(mode) << ") on the "
            << DeviceTypeText(session.device.nDeviceType) << "? They cannot be brought back. [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return answer == "y" || answer == "Y" || answer == "yes";
}

void RunDelete(const GlobalOptions& global, const DeleteOptions& options) {
  // The question is what keeps a recording from being lost by a slip; a
  // script that means it says --yes.
  if (!options.yes && !StdinIsTerminal())
    throw CommandError(kExitBadInput,
                       "nothing deleted: standard input is not a terminal to ask on; give --yes to delete without asking");
  const auto archive = OpenForFiling(options.filing);
  Link link(global);
  Session session = Connect(global, link);
  // Known before the records are counted.
  if (const std::string why = host::WhyNoDelete(session); !why.empty()) throw CommandError(kExitRefused, why);
  const int mode = ChooseMode(session, options.mode);
  // What the delete would take is read first: to file it (nothing is erased
  // unread), to ask about it, and to report what went.
  const HeldReadings before(session, {mode}, "before deleting; nothing deleted");
  const std::size_t held = before.Count();
  if (held == 0) {
    std::cout << "Nothing to delete: the device holds no records (" << DataModeName(mode) << ").\n";
    return;
  }
  // The question below is the one --discard is asked on.
  GuardErasure(archive::Erasure::kDelete, before, session.family->name, archive.get(), options.filing, options.discard,
               false);
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
  const std::size_t left = HeldReadings(session, {mode}, "after deleting").Count();
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
  AddFilingOptions(*command, options->filing);
  command->add_flag("--discard", options->discard,
                    "Without --archive: delete the records although they are in no archive");
  command->callback([&global, options] { RunDelete(global, *options); });
}

}  // namespace bplink::cli
