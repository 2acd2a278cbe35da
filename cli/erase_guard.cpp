#include "erase_guard.h"

#include <algorithm>
#include <iostream>

#include "command_error.h"
#include "exit_status.h"
#include "terminal.h"
#include "transfer.h"

namespace bplink::cli {
namespace {

std::string Readings(std::size_t n) { return std::to_string(n) + (n == 1 ? " reading" : " readings"); }

}  // namespace

HeldReadings::HeldReadings(Session& session, const std::vector<int>& modes, const std::string& when) {
  CProtocolBase& protocol = *session.protocol;
  for (const int mode : modes) {
    const TransferOutcome outcome =
        RunTransfer(session, [&protocol, mode] { return protocol.PC_Download(static_cast<enum_DataMode>(mode)); },
                    DownloadParts(session, mode));
    if (outcome.interrupted) throw CommandError(kExitInterrupted, "stopped " + when);
    if (outcome.result != kResultOk)
      throw CommandError(session.ExitFor(outcome.result),
                         "what the device holds could not be read " + when + ": " + session.Explain(outcome.result));
    data_.push_back(std::make_unique<_DOWNLOAD_DATAINFO>());
    protocol.GetDownLoadData(data_.back().get());
    protocol.GetCurDeviceInfo(session.device);
    views_.push_back(ViewOf(*data_.back(), session.device, mode, host::PlanRead(session, mode)));
    views_.back().downloaded_at = CurrentEnv()->LocalTime();
  }
}

std::size_t HeldReadings::Count() const {
  std::size_t n = 0;
  for (const auto& v : views_) n += v.RecordCount();
  return n;
}

archive::Download HeldReadings::AsDownload(std::string_view family, const FilingOptions& filing) const {
  archive::Download all;
  for (const DownloadView& view : views_) {
    archive::Download one = DownloadOf(view, family, filing);
    if (all.family.empty()) all = one, all.sets.clear(), all.spo2 = nullptr;
    if (!all.plan && one.plan) all.plan = one.plan, all.plan_json = one.plan_json;
    // A set another mode brought already is not filed twice.
    for (const auto& s : one.sets)
      if (std::none_of(all.sets.begin(), all.sets.end(), [&s](const auto& a) { return a.mode == s.mode; }))
        all.sets.push_back(s);
    if (!all.spo2 && one.spo2 && !one.spo2->vecRecords.empty()) all.spo2 = one.spo2;
  }
  return all;
}

void GuardErasure(archive::Erasure what, const HeldReadings& held, std::string_view family,
                  archive::Archive* archive, const FilingOptions& filing, bool discard, bool ask) {
  const char* erasing = what == archive::Erasure::kUpload ? "the upload" : "the delete";
  if (!archive && discard && ask && held.Count() > 0) {
    std::cerr << "The device holds " << Readings(held.Count()) << " that are in no archive; " << erasing
              << " erases them unread. Go on? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    discard = answer == "y" || answer == "Y" || answer == "yes";
    if (!discard) throw CommandError(kExitWouldLose, "nothing erased");
  }
  try {
    const archive::ErasureCleared cleared =
        archive::ClearErasure(what, held.AsDownload(family, filing), archive, discard, ProgramActor(filing.station));
    if (cleared.filed)
      std::cerr << "Filed the " << Readings(static_cast<std::size_t>(cleared.filed->readings)) << " the device holds ("
                << cleared.filed->new_readings << " new) before " << erasing << ".\n";
    else if (cleared.discarded)
      std::cerr << "bplink: " << Readings(static_cast<std::size_t>(cleared.held)) << " erased unread (--discard).\n";
  } catch (const archive::ErasureRefused& e) {
    throw CommandError(kExitWouldLose, std::string("nothing erased: ") + e.what() +
                                           "; give --archive to file them first, or --discard to erase them unread");
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitCannotWrite, std::string("nothing erased: the readings the device holds could not be "
                                                     "filed: ") + e.what());
  }
}

}  // namespace bplink::cli
