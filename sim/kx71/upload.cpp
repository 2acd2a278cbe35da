// How the KX71 recorder takes a plan: the upload probe is confirmed, then the
// plan block comes one byte at a time, each confirmed, and once whole it
// becomes the recorder's stored plan.
#include <algorithm>

#include "kx71/model.h"

namespace bplink::sim::kx71 {

Plan DecodePlan(const PlanBlock& b) {
  auto text = [&b](std::size_t at, std::size_t length) {
    const auto first = b.begin() + static_cast<std::ptrdiff_t>(at);
    const auto last = std::find(first, first + static_cast<std::ptrdiff_t>(length), 0);
    return std::string(first, last);
  };
  Plan plan;
  plan.patient1 = text(0, kPatient1Length);
  plan.patient2 = text(kPatient2At, kPatient2Length);
  const std::uint8_t* c = b.data() + kClockAt;
  plan.clock = CalendarTime{c[0] * 256 + c[1], c[2], c[3], c[4], c[5], 0};
  const std::uint8_t* p = b.data() + kPeriodsAt;
  plan.day_hour = p[0];
  plan.day_minute = p[1];
  plan.day_interval = p[2];
  plan.night_hour = p[3];
  plan.night_minute = p[4];
  plan.night_interval = p[5];
  return plan;
}

// The probe ends any stream under way.
void Recorder::StartUpload() {
  mode_ = Mode::kUploading;
  stream_.clear();
  upload_at_ = 0;
  Send(kConfirm);
}

void Recorder::TakeUploadByte(std::uint8_t byte) {
  if (static_cast<int>(upload_at_) == config_.faults.unconfirmed_byte) {
    mode_ = Mode::kIdle;  // gives up on the upload without a word
    return;
  }
  upload_[upload_at_++] = byte;
  Send(kConfirm);
  if (upload_at_ < upload_.size()) return;
  uploaded_ = upload_;
  config_.plan = DecodePlan(upload_);
  ++uploads_;
  mode_ = Mode::kIdle;
}

}  // namespace bplink::sim::kx71
