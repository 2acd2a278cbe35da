#include "transfer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <iostream>
#include <string>

#include "terminal.h"

namespace bplink::cli {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;
constexpr int kPercent = 100;

const char* StageName(int stage) {
  static constexpr std::array<const char*, 10> kNames = {
      "blood pressure", "plan",    "blood pressure", "SpO2",    "blood pressure, set 2",
      "deleting",       "store 1", "store 2",        "store 3", "plan upload"};
  return stage >= 0 && stage < static_cast<int>(kNames.size()) ? kNames[stage] : "working";
}

// Back to the start of the line, which is then blank: an escape sequence
// where the terminal takes them, else spaces over the widest bar drawn.
std::string ClearLine() {
  constexpr std::size_t kWidest = kBarWidth + 40;
  return TerminalTakesEscapes() ? "\r\033[K" : "\r" + std::string(kWidest, ' ') + "\r";
}

void DrawProgress(int percent, int stage) {
  percent = std::clamp(percent, 0, kPercent);
  const int filled = percent * kBarWidth / kPercent;
  std::cerr << ClearLine() << '[' << std::string(filled, '#') << std::string(kBarWidth - filled, '.') << "] "
            << percent << "%  " << StageName(stage) << std::flush;
}

// Asks the running transfer to stop, again if it has since written "running".
void RequestStop(int& state) {
  std::atomic_ref<int> ref(state);
  const int now = ref.load();
  if (now != kStateStopRequested && now != kStateFailed && now != kStateSucceeded)
    ref.store(kStateStopRequested);
}

}  // namespace

TransferOutcome RunTransfer(Session& session, const std::function<int()>& transfer) {
  Session::Progress& p = *session.progress;
  p = Session::Progress{};
  session.protocol->SetProgressInfo(&p.percent, &p.state, &p.stage);
  const bool tty = StderrIsTerminal();
  bool told = false;

  TransferStarts();
  auto running = std::async(std::launch::async, transfer);
  while (running.wait_for(kPollInterval) != std::future_status::ready) {
    if (InterruptsDuringTransfer() > 0) {
      RequestStop(p.state);
      if (!told) {
        std::cerr << (tty ? ClearLine() : "") << "bplink: stopping; what has arrived is kept (Ctrl-C again to quit)\n";
        told = true;
      }
    }
    if (tty) DrawProgress(std::atomic_ref<int>(p.percent).load(), std::atomic_ref<enum_TransportType>(p.stage).load());
  }
  TransferOutcome outcome{running.get(), InterruptsDuringTransfer() > 0};
  TransferEnds();
  if (tty) std::cerr << ClearLine() << std::flush;
  return outcome;
}

}  // namespace bplink::cli
