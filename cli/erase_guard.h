// The program's side of the rule that nothing is erased unread
// (<bplink/archive/guard.h>): fetching what the device holds, handing it to
// the rule, and telling the person what came of it. `upload` and `delete`
// go through it before they erase anything.
#pragma once

#include <bplink/archive/guard.h>

#include <memory>
#include <string>
#include <vector>

#include "download_view.h"
#include "filing.h"
#include "session.h"

namespace bplink::cli {

// What a device holds, downloaded in one or more data modes.
class HeldReadings {
 public:
  // Downloads each of `modes`; `when` says, in a failure's message, what the
  // download was for. Throws CommandError when one fails or is stopped.
  HeldReadings(Session& session, const std::vector<int>& modes, const std::string& when);
  // Readings and SpO2 samples, in every mode downloaded.
  std::size_t Count() const;
  // The readings as the archive files them, each set once.
  archive::Download AsDownload(std::string_view family, const FilingOptions& filing) const;

 private:
  std::vector<std::unique_ptr<_DOWNLOAD_DATAINFO>> data_;
  std::vector<DownloadView> views_;
};

// Clears `what` to erase what `held` holds, or throws CommandError: with an
// archive the readings are filed first (said on stderr); without one the
// erasure goes on only with `discard`, and where `ask` (an upload, on a
// terminal) once the person confirmed it.
void GuardErasure(archive::Erasure what, const HeldReadings& held, std::string_view family,
                  archive::Archive* archive, const FilingOptions& filing, bool discard, bool ask);

}  // namespace bplink::cli
