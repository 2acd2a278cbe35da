// Running one transfer the way a person watches it: on a worker thread, its
// progress followed from the host's thread as one rise from 0 to 100 over
// everything it fetches, and the library's stop request passed on when the
// host asks for it. The program draws a bar on the terminal from it; the
// workstation sends it to the page.
#pragma once

#include <bplink/host/session.h>

#include <functional>
#include <string>
#include <vector>

namespace bplink::host {

// Where the bar stands: the library's stage and percent, seen from time to
// time, turned into one rise from 0 to 100 over the transfer's parts.
class ProgressTrack {
 public:
  explicit ProgressTrack(std::vector<std::string> parts) : parts_(std::move(parts)) {}
  void See(int stage, int percent);
  // The transfer came whole: the bar is full.
  void Finish() { shown_ = 100; }
  int Percent() const { return shown_; }
  // "set 2 (2 of 2)", or what the stage is when it is no part's.
  std::string Label() const;

 private:
  std::vector<std::string> parts_;
  int part_ = -1;          // the part under way; -1 before the first
  int stage_ = -1;         // the stage last seen
  int part_stage_ = -1;    // the stage the part under way was seen in
  int last_percent_ = 0;   // the percent last seen in the part under way
  int stale_ = -1;         // the percent a new stage began with, until it changes
  int shown_ = 0;
};

// The parts a download of `mode` fetches from the session's device
// ("set 1", "set 2"): the library counts each from 0 to 100.
std::vector<std::string> DownloadParts(const Session& session, int mode);

// Asks the running transfer to stop (the library's stop request: 5 written
// into the state variable through std::atomic_ref), again if it has since
// written "running"; nothing once it has ended.
void RequestStop(int& state);

struct TransferOutcome {
  int result = 0;
  bool stop_requested = false;  // the host asked it to stop (what arrived is kept)
};

// Runs `transfer` on a worker thread with the session's progress variables
// registered and reset. Every few milliseconds until it ends, `watch` sees
// the progress, and once more when it has ended (full when it came whole);
// when it answers true the transfer is asked to stop. `parts`:
// as DownloadParts names them; empty: one part, named by the library's stage.
TransferOutcome RunTransfer(Session& session, const std::function<int()>& transfer, std::vector<std::string> parts,
                            const std::function<bool(const ProgressTrack&)>& watch);

}  // namespace bplink::host
