// Running one transfer the way a person watches it (host::RunTransfer):
// with a progress bar on a terminal, and Ctrl-C passed on as the library's
// stop request.
#pragma once

#include <bplink/host/transfer.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "session.h"

namespace bplink::cli {

using host::DownloadParts;
using host::ProgressTrack;

// How a transfer ended.
struct TransferOutcome {
  int result = 0;
  bool interrupted = false;  // the user pressed Ctrl-C
};

// Runs `transfer` on a worker thread with the session's progress variables
// registered; shows a progress bar on stderr when it is a terminal. `parts`
// names the pieces of data the transfer fetches one after another ("set 1",
// "set 2"): the library counts each from 0 to 100, the bar rises once over
// all of them and names the one under way. Empty: one part, named by the
// library's stage.
TransferOutcome RunTransfer(Session& session, const std::function<int()>& transfer,
                            std::vector<std::string> parts = {});

// Writes `line` and a line break to standard error, starting on a line of
// its own when the progress bar is drawn there (it is drawn again at its
// next update). Safe from any thread.
void WriteStderrLine(const std::string& line);
// A stream whose every line goes out through WriteStderrLine: for text that
// others write line by line while a transfer runs.
std::ostream& StderrLines();

}  // namespace bplink::cli
