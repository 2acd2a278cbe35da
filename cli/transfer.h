// Running one transfer the way a person watches it: on a worker thread,
// with a progress bar on a terminal, and Ctrl-C passed on as the library's
// stop request.
#pragma once

#include <functional>

#include "session.h"

namespace bplink::cli {

// How a transfer ended.
struct TransferOutcome {
  int result = 0;
  bool interrupted = false;  // the user pressed Ctrl-C
};

// Runs `transfer` on a worker thread with the session's progress variables
// registered; shows a progress bar on stderr when it is a terminal.
TransferOutcome RunTransfer(Session& session, const std::function<int()>& transfer);

}  // namespace bplink::cli
