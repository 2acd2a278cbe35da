// The SpO2 samples of a monitor with SpO2: after the request is acknowledged,
// a header and then one frame per sample, unprompted.

#include <algorithm>

#include "hid/hid_monitor.h"
#include "hid/minutes.h"
#include "hid/monitor_wire.h"
#include "hid/seven_in_eight.h"

namespace bplink::sim {
namespace {

using namespace hid_wire;

// Header: count (24 bits), format, and for format 1 the start to the second.
constexpr std::size_t kHeaderLength = 12;
constexpr std::size_t kHeaderFormatAt = 3;
constexpr std::size_t kHeaderTimeAt = 4;
constexpr std::size_t kHeaderSecondAt = 10;
constexpr int kMaxCount = 0xFFFFFF;
constexpr int kOffsetFormat = 1;
constexpr std::size_t kOffsetSampleLength = 7;  // the last two bytes unused
constexpr std::size_t kOwnTimeSampleLength = 9;  // the last byte unused

std::vector<std::uint8_t> EncodeSample(const HidSpO2Store& store, const HidSpO2Sample& sample) {
  std::vector<std::uint8_t> plain{Byte(sample.spo2), Byte(sample.pulse)};
  if (store.format == kOffsetFormat) {
    const std::int64_t seconds = std::max<std::int64_t>(0, SecondNumber(sample.time) - SecondNumber(store.start));
    plain.insert(plain.end(), {Byte(static_cast<int>(seconds >> 16)), Byte(static_cast<int>(seconds >> 8)),
                               Byte(static_cast<int>(seconds))});
    plain.resize(kOffsetSampleLength, 0x00);
  } else {
    const CalendarTime& t = sample.time;
    plain.insert(plain.end(), {Byte(t.year - kOwnTimeYearBase), Byte(t.month), Byte(t.day), Byte(t.hour),
                               Byte(t.minute), Byte(t.second)});
    plain.resize(kOwnTimeSampleLength, 0x00);
  }
  return Pack7in8(plain.data(), plain.size());
}

}  // namespace

void HidMonitor::StreamSpO2() {
  const HidSpO2Store& store = config_.spo2;
  const int count = std::min<int>(static_cast<int>(store.samples.size()), kMaxCount);

  std::array<std::uint8_t, kHeaderLength> header{Byte(count >> 16), Byte(count >> 8), Byte(count)};
  header[kHeaderFormatAt] = Byte(store.format);
  if (store.format == kOffsetFormat) {
    PutTime(store.start, &header[kHeaderTimeAt]);
    header[kHeaderSecondAt] = Byte(store.start.second);
  }
  SendDataFrame(HidExchange::kSpO2Header, kSpO2HeaderFrame, header.data(), header.size());
  if (Has(HidExchange::kSpO2Header, HidFault::kSilent)) return;

  for (int i = 0; i < count; ++i)
    SendRecord(kHidSpO2Store, i, EncodeSample(store, store.samples[static_cast<std::size_t>(i)]));
}

}  // namespace bplink::sim
