#include "transfer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <iostream>
#include <mutex>
#include <string>

#include "terminal.h"

namespace bplink::cli {
namespace {

// Often enough to see each part begin (the library counts every part from
// 0 again); the bar is drawn only when what it shows changes.
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr int kBarWidth = 30;
constexpr int kPercent = 100;

const char* StageName(int stage) {
  static constexpr std::array<const char*, 10> kNames = {
      "starting",       "plan",    "blood pressure", "SpO2",    "blood pressure, set 2",
      "deleting",       "store 1", "store 2",        "store 3", "plan upload"};
  return stage >= 0 && stage < static_cast<int>(kNames.size()) ? kNames[stage] : "working";
}

// The stages in which records or samples arrive, each part counted 0 to 100.
// (Data mode 0's stage is also where every transfer starts, before any step.)
bool IsDataStage(int stage) {
  switch (stage) {
    case TRANSPORT_BP:
    case TRANSPORT_SPO2:
    case TRANSPORT_BP_SET2:
    case TRANSPORT_BP_ZONE1:
    case TRANSPORT_BP_ZONE2:
    case TRANSPORT_BP_ZONE3: return true;
    default: return false;
  }
}

// Standard error as the bar and whole lines share it.
std::mutex g_stderr;
bool g_bar_drawn = false;  // the bar is on the current line of a terminal

// Back to the start of the line, which is then blank: an escape sequence
// where the terminal takes them, else spaces over the widest bar drawn.
std::string ClearLine() {
  constexpr std::size_t kWidest = kBarWidth + 60;
  return TerminalTakesEscapes() ? "\r\033[K" : "\r" + std::string(kWidest, ' ') + "\r";
}

// Draws the bar when it shows something new, or a line was written over it.
void DrawBar(const ProgressTrack& track) {
  static std::string drawn;
  const int filled = track.Percent() * kBarWidth / kPercent;
  const std::string bar = '[' + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
                          std::to_string(track.Percent()) + "%  " + track.Label();
  const std::lock_guard hold(g_stderr);
  if (g_bar_drawn && bar == drawn) return;
  std::cerr << ClearLine() << bar << std::flush;
  g_bar_drawn = true;
  drawn = bar;
}

void EraseBar() {
  const std::lock_guard hold(g_stderr);
  if (g_bar_drawn) std::cerr << ClearLine() << std::flush;
  g_bar_drawn = false;
}

// Asks the running transfer to stop, again if it has since written "running".
void RequestStop(int& state) {
  std::atomic_ref<int> ref(state);
  const int now = ref.load();
  if (now != kStateStopRequested && now != kStateFailed && now != kStateSucceeded)
    ref.store(kStateStopRequested);
}

}  // namespace

void ProgressTrack::See(int stage, int percent) {
  percent = std::clamp(percent, 0, kPercent);
  const bool changed = stage != stage_;
  stage_ = stage;
  if (!IsDataStage(stage)) return;
  const int last = std::max(static_cast<int>(parts_.size()) - 1, 0);
  if (changed && stage != part_stage_) {
    // A new stage is a new part, unless this part has only just begun (its
    // count went back to 0 and then the stage followed).
    if (part_ < 0 || last_percent_ > 0) part_ = std::min(part_ + 1, last);
    part_stage_ = stage;
    last_percent_ = 0;
    stale_ = percent;  // what the last part left, until the library counts this one
  } else if (stale_ >= 0 && percent != stale_) {
    stale_ = -1;
  } else if (stale_ < 0 && percent < last_percent_) {
    part_ = std::min(part_ + 1, last);  // counted from 0 again: the next part
  }
  if (stale_ >= 0) percent = 0;
  last_percent_ = percent;
  const int count = std::max(static_cast<int>(parts_.size()), 1);
  shown_ = std::max(shown_, (part_ * kPercent + percent) / count);
}

std::string ProgressTrack::Label() const {
  if (part_ < 0 || !IsDataStage(stage_) || parts_.empty()) return StageName(stage_);
  if (parts_.size() == 1) return parts_.front();
  return parts_[part_] + " (" + std::to_string(part_ + 1) + " of " + std::to_string(parts_.size()) + ")";
}

// The HID family reads the plan in data modes 1 and 2 only; three-store
// monitors and recorders of variant 1 keep none.
bool ReadsPlan(const Session& session, int mode) {
  const tag_SUPPORT_PROTOCOL& d = session.device;
  if (d.nDeviceType == kDeviceThreeStores) return false;
  if (d.nDeviceType == kDeviceAmbulatory && d.nVariant == 1) return false;
  return session.family->link != LinkKind::kUsbHid || mode == DATAMODE_BP || mode == DATAMODE_BP_SPO2;
}

std::vector<std::string> DownloadParts(const Session& session, int mode) {
  const auto store = [](int n) { return "store " + std::to_string(n); };
  const bool all_stores = mode == DATAMODE_ZONE_ALL;
  if (mode >= DATAMODE_ZONE1 && mode <= DATAMODE_ZONE3) return {store(mode - DATAMODE_ZONE1 + 1)};
  if (all_stores) return {store(1), store(2), store(3)};
  // A serial recorder streams both its sets as one; how far it is, it does not say.
  if (session.family->link == LinkKind::kSerial) return {"blood pressure"};
  switch (session.device.nDeviceType) {
    case kDeviceAmbulatory: {
      // A recorder sends its second set after the first, in the same
      // session; the recorders that keep no plan keep one set only.
      constexpr int kSingleSetVariant = 1;
      if (mode == DATAMODE_BP_SET2) return {"set 2"};
      if (session.device.nVariant == kSingleSetVariant) return {"set 1"};
      return {"set 1", "set 2"};
    }
    case kDeviceWithSpO2:
      if (mode == DATAMODE_BP_SPO2) return {"blood pressure", "SpO2"};
      return {"blood pressure"};
    default: return {"blood pressure"};
  }
}

void WriteStderrLine(const std::string& line) {
  const std::lock_guard hold(g_stderr);
  if (g_bar_drawn) std::cerr << ClearLine();
  g_bar_drawn = false;
  std::cerr << line << '\n' << std::flush;
}

namespace {

// Collects characters until a line is whole, then writes it as one.
class LineBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const std::lock_guard hold(lock_);
    if (traits_type::to_char_type(c) == '\n') {
      WriteStderrLine(line_);
      line_.clear();
    } else {
      line_ += traits_type::to_char_type(c);
    }
    return c;
  }

 private:
  std::mutex lock_;
  std::string line_;
};

}  // namespace

std::ostream& StderrLines() {
  static LineBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

TransferOutcome RunTransfer(Session& session, const std::function<int()>& transfer, std::vector<std::string> parts) {
  Session::Progress& p = *session.progress;
  p = Session::Progress{};
  session.protocol->SetProgressInfo(&p.percent, &p.state, &p.stage);
  const bool tty = StderrIsTerminal();
  bool told = false;
  ProgressTrack track(std::move(parts));

  TransferStarts();
  auto running = std::async(std::launch::async, transfer);
  while (running.wait_for(kPollInterval) != std::future_status::ready) {
    if (InterruptsDuringTransfer() > 0) {
      RequestStop(p.state);
      if (!told) {
        WriteStderrLine("bplink: stopping; what has arrived is kept (Ctrl-C again to quit)");
        told = true;
      }
    }
    track.See(std::atomic_ref<enum_TransportType>(p.stage).load(), std::atomic_ref<int>(p.percent).load());
    if (tty) DrawBar(track);
  }
  TransferOutcome outcome{running.get(), InterruptsDuringTransfer() > 0};
  TransferEnds();
  if (outcome.result == kResultOk && !outcome.interrupted) track.Finish();
  if (tty) {
    DrawBar(track);
    EraseBar();
  }
  return outcome;
}

}  // namespace bplink::cli
