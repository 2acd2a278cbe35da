#include <bplink/host/transfer.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <future>

namespace bplink::host {
namespace {

// Often enough to see each part begin (the library counts every part from
// 0 again).
constexpr auto kPollInterval = std::chrono::milliseconds(10);
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

void RequestStop(int& state) {
  std::atomic_ref<int> ref(state);
  const int now = ref.load();
  if (now != kStateStopRequested && now != kStateFailed && now != kStateSucceeded)
    ref.store(kStateStopRequested);
}

TransferOutcome RunTransfer(Session& session, const std::function<int()>& transfer, std::vector<std::string> parts,
                            const std::function<bool(const ProgressTrack&)>& watch) {
  Session::Progress& p = *session.progress;
  p = Session::Progress{};
  session.protocol->SetProgressInfo(&p.percent, &p.state, &p.stage);
  ProgressTrack track(std::move(parts));
  bool stop = false;
  auto running = std::async(std::launch::async, transfer);
  while (running.wait_for(kPollInterval) != std::future_status::ready) {
    track.See(std::atomic_ref<enum_TransportType>(p.stage).load(), std::atomic_ref<int>(p.percent).load());
    if (watch(track)) {
      stop = true;
      RequestStop(p.state);
    }
  }
  const TransferOutcome outcome{running.get(), stop};
  // A whole transfer fills the bar, whatever the library's count reached (a
  // serial recorder's cycles, a last record's 98 %); the watcher sees it once more.
  if (outcome.result == kResultOk && !outcome.stop_requested) track.Finish();
  track.See(std::atomic_ref<enum_TransportType>(p.stage).load(), std::atomic_ref<int>(p.percent).load());
  watch(track);
  return outcome;
}

}  // namespace bplink::host
