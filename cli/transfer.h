// Running one transfer the way a person watches it: on a worker thread,
// with a progress bar on a terminal, and Ctrl-C passed on as the library's
// stop request.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "session.h"

namespace bplink::cli {

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

// The parts a download of `mode` fetches from the session's device.
std::vector<std::string> DownloadParts(const Session& session, int mode);
// Whether a download of `mode` from the session's device reads its plan.
bool ReadsPlan(const Session& session, int mode);

// Writes `line` and a line break to standard error, starting on a line of
// its own when the progress bar is drawn there (it is drawn again at its
// next update). Safe from any thread.
void WriteStderrLine(const std::string& line);
// A stream whose every line goes out through WriteStderrLine: for text that
// others write line by line while a transfer runs.
std::ostream& StderrLines();

// Where the bar stands: the library's stage and percent, seen from time to
// time, turned into one rise from 0 to 100 over the transfer's parts.
class ProgressTrack {
 public:
  explicit ProgressTrack(std::vector<std::string> parts) : parts_(std::move(parts)) {}
  void See(int stage, int percent);
  // The transfer came whole: the bar is full, whatever the library's count
  // reached (a serial recorder's cycles, a last record's 98 %).
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

}  // namespace bplink::cli
