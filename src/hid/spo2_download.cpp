// SpO2 download of the monitors with SpO2 (device type 3). After the request
// is acknowledged the device streams a header and one frame per sample,
// unprompted. A sample that is lost or does not decode is dropped and the
// stream read on: the samples carry their own position, so the rest of the
// set stays usable.

#include <bplink/env.h>
#include <bplink/protocol_new.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "frame/record_fields.h"
#include "frame/wire_bytes.h"
#include "hid/frames.h"

using namespace bplink::hid;
using bplink::CalendarTime;
using bplink::kResultOk;

namespace {

constexpr int kProgressStarted = 1;
constexpr int kProgressDone = 100;

// Header: count (24 bits), record format, then for format 1 the start of the
// recording to the second (year in 16 bits, month, day, hour, minute, second).
constexpr DWORD kHeaderLength = 12;
constexpr DWORD kHeaderFrameLength = DataFrameLength(kHeaderLength);  // 16
constexpr DWORD kHeaderCountAt = 0;
constexpr DWORD kHeaderFormatAt = 3;
constexpr DWORD kHeaderYearAt = 4;
constexpr DWORD kHeaderMonthAt = 6;
constexpr DWORD kHeaderDayAt = 7;
constexpr DWORD kHeaderHourAt = 8;
constexpr DWORD kHeaderMinuteAt = 9;
constexpr DWORD kHeaderSecondAt = 10;

// Samples: SpO2 and pulse, then where the sample lies. Format 1 gives its
// position after the header's start in 24 bits; format 2 its own time.
constexpr BYTE kFormatOffset = 1;
constexpr BYTE kFormatOwnTime = 2;
constexpr DWORD kOffsetRecordLength = 7;
constexpr DWORD kOwnTimeRecordLength = 9;
constexpr DWORD kLongestRecord = kOwnTimeRecordLength;
constexpr DWORD kRecSpO2At = 0;
constexpr DWORD kRecPulseAt = 1;
constexpr DWORD kRecOffsetAt = 2;  // format 1: 24 bits, seconds after the start
constexpr DWORD kRecYearAt = 2;    // format 2: year - 2000, month, day, hour, minute, second
constexpr int kRecordYearBase = 2000;

// A device that misses this many sample frames in a row has stopped
// sending; reading on would only cost one receive time-out per sample it
// announced (up to 16 million).
constexpr int kSilentFramesToGiveUp = 5;

_SPO2_RECORD Sample(const BYTE* d, int timeOffset) {
  _SPO2_RECORD record;
  record.bySpO2 = d[kRecSpO2At];
  record.byPulseRate = d[kRecPulseAt];
  record.nTimeOffset = timeOffset;
  return record;
}

CalendarTime SampleTime(const BYTE* d) {
  return CalendarTime{d[kRecYearAt] + kRecordYearBase, d[kRecYearAt + 1], d[kRecYearAt + 2],
                      d[kRecYearAt + 3], d[kRecYearAt + 4], d[kRecYearAt + 5]};
}

// Seconds from the start of the set to a sample's own time; 0 when either
// time is no calendar time at all.
int OffsetSeconds(const CalendarTime& start, const CalendarTime& at) {
  if (!bplink::IsValidTime(start) || !bplink::IsValidTime(at)) return 0;
  return static_cast<int>(bplink::SecondsBetween(start, at));
}

}  // namespace

// Only data mode 2 reads SpO2. The set is not emptied here: PC_Download
// empties the whole store before its first step.
int CProtocol_NEW::DownloadSpO2Data() {
  try {
    if (m_nABPM_Type != DATAMODE_BP_SPO2) return kResultOk;
    CProtocolBase::DownloadSpO2Data();
    SetProgress(kProgressStarted);
    int r = RequestParameter(kOpRead, kObjSpO2, 0);
    if (r != kResultOk) return r;

    BYTE* frame = NewBuffer(kHeaderFrameLength);
    std::array<BYTE, kHeaderLength> header{};
    if (!ReceiveFrame(frame, kHeaderFrameLength) || frame[0] != kFrameSpO2Header ||
        frame[1] != m_byIdentity ||
        !UnpackPayload(frame + kDataFrameCodeBytes, kHeaderLength, header.data())) {
      FreeBuffer();
      return bplink::kResultIoFailed;
    }

    const int count = bplink::wire::BigEndian24(&header[kHeaderCountAt]);
    const BYTE format = header[kHeaderFormatAt];
    m_SpO2Set.Head.nCount = count;
    CalendarTime start;
    bool haveStart = false;
    DWORD recordLength = 0;
    if (format == kFormatOffset) {
      recordLength = kOffsetRecordLength;
      start = CalendarTime{bplink::wire::BigEndian16(&header[kHeaderYearAt]),
                           header[kHeaderMonthAt], header[kHeaderDayAt], header[kHeaderHourAt],
                           header[kHeaderMinuteAt], header[kHeaderSecondAt]};
      haveStart = true;
      bplink::SetTimeFields(m_SpO2Set.Head, start);
    } else if (format == kFormatOwnTime) {
      recordLength = kOwnTimeRecordLength;
    } else {
      FreeBuffer();
      return bplink::kResultIoFailed;
    }

    const DWORD frameLength = PackedLength(recordLength);
    frame = NewBuffer(frameLength);
    r = kResultOk;
    int silentInARow = 0;
    for (int i = 0; i < count && silentInARow < kSilentFramesToGiveUp; ++i) {
      const bool received = ReceiveFrame(frame, frameLength);
      silentInARow = received ? 0 : silentInARow + 1;
      std::array<BYTE, kLongestRecord> d{};
      if (!received) {
        r = bplink::kResultIoFailed;
      } else if (!UnpackPayload(frame, recordLength, d.data())) {
        r = bplink::kResultNotForDevice;
      } else if (format == kFormatOffset) {
        m_SpO2Set.vecRecords.push_back(Sample(d.data(), bplink::wire::BigEndian24(&d[kRecOffsetAt])));
      } else {
        const CalendarTime at = SampleTime(d.data());
        // The first sample that arrives starts the set, even when the
        // device's first one was lost on the way.
        if (!haveStart) {
          start = at;
          haveStart = true;
          bplink::SetTimeFields(m_SpO2Set.Head, start);
        }
        m_SpO2Set.vecRecords.push_back(Sample(d.data(), OffsetSeconds(start, at)));
      }
      SetProgress(static_cast<int>(std::int64_t{i + 1} * kProgressDone / count));
      if (IsStopRequested()) break;
    }
    FreeBuffer();
    return r;
  } catch (...) {
    FreeBuffer();
    return bplink::kResultException;
  }
}
