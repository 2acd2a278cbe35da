// How a VESTRA16-family monitor serves what it stored: the settings block
// with the count of measurements, then one measurement per request, each
// behind its echo.
#include <algorithm>

#include "vestra16/model.h"

namespace bplink::sim::vestra16 {
namespace {

void PutClock(const Clock& c, std::uint8_t* at) {
  at[0] = static_cast<std::uint8_t>(c.year >> 8);
  at[1] = static_cast<std::uint8_t>(c.year);
  at[2] = static_cast<std::uint8_t>(c.month);
  at[3] = static_cast<std::uint8_t>(c.day);
  at[4] = static_cast<std::uint8_t>(c.hour);
  at[5] = static_cast<std::uint8_t>(c.minute);
}

}  // namespace

std::array<std::uint8_t, kSettingsBytes> EncodeSettings(const Settings& s, std::uint16_t count) {
  std::array<std::uint8_t, kSettingsBytes> b{};
  std::copy(s.patient1.begin(), s.patient1.end(), b.begin() + kPatient1At);
  std::copy(s.patient2.begin(), s.patient2.end(), b.begin() + kPatient2At);
  PutClock(s.start, &b[kStartAt]);
  PutClock(s.next, &b[kNextAt]);
  b[kOption1At] = s.option1;
  b[kOption2At] = s.option2;
  const std::uint8_t periods[] = {s.period1_hour, s.period1_minute, s.period1_interval,
                                  s.period2_hour, s.period2_minute, s.period2_interval};
  std::copy(std::begin(periods), std::end(periods), b.begin() + kPeriodsAt);
  std::copy(s.extra.begin(), s.extra.end(), b.begin() + kExtraAt);
  b[kCodeAt] = s.period_code;
  b[kCountAt] = static_cast<std::uint8_t>(count >> 8);
  b[kCountAt + 1] = static_cast<std::uint8_t>(count);
  return b;
}

std::array<std::uint8_t, kRecordBytes> EncodeMeasurement(const Measurement& m) {
  return {static_cast<std::uint8_t>(m.minutes >> 16),
          static_cast<std::uint8_t>(m.systolic >> 8),
          static_cast<std::uint8_t>(m.systolic),
          m.press2,
          m.pulse,
          m.press3,
          static_cast<std::uint8_t>(m.minutes >> 8),
          static_cast<std::uint8_t>(m.minutes),
          m.status,
          m.flags,
          0,
          0,
          m.extra};
}

void Monitor::SendSettings() {
  Send(dialect_.settings_command);
  Send(EncodeSettings(settings_, static_cast<std::uint16_t>(measurements_.size())));
  cursor_ = 0;  // a new download starts from the first measurement
}

void Monitor::SendNextRecord() {
  const int index = static_cast<int>(cursor_);
  if (auto skip = faults_.unanswered_record_requests.find(index);
      skip != faults_.unanswered_record_requests.end() && skip->second > 0) {
    --skip->second;
    return;
  }
  if (cursor_ >= measurements_.size()) return;  // nothing more stored
  const auto block = EncodeMeasurement(measurements_[cursor_]);
  Send(kReadRecord);
  if (index == faults_.silent_after_records) {
    for (int i = 0; i < faults_.bytes_before_silence && i < static_cast<int>(block.size()); ++i)
      Send(block[static_cast<std::size_t>(i)]);
    silent_ = true;
    return;
  }
  Send(block);
  ++cursor_;
}

}  // namespace bplink::sim::vestra16
