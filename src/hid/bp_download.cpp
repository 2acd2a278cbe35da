// Blood-pressure download: the stored plan, then the records, one block per
// store. After the request is acknowledged the device streams each block
// unprompted: a header frame, then one frame per record, with no reply.

#include <bplink/env.h>
#include <bplink/protocol_new.h>

#include <algorithm>
#include <array>

#include "frame/record_fields.h"
#include "frame/wire_bytes.h"
#include "hid/device_rules.h"
#include "hid/frames.h"
#include "hid/plan_block.h"

using namespace bplink::hid;
using bplink::CalendarTime;
using bplink::kResultOk;
using bplink::wire::BigEndian16;

namespace {

constexpr unsigned kPlanPauseMs = 100;  // given to the device before its acknowledgement
constexpr int kProgressRequested = 20;
constexpr int kProgressReceived = 40;
constexpr int kProgressDecoded = 60;
constexpr int kProgressStored = 90;
constexpr int kProgressDone = 100;

// Block header: count (16 bits), record format, then for format 1 the start
// of the recording (year in 16 bits, month, day, hour, minute).
constexpr DWORD kBlockHeaderLength = 10;
constexpr DWORD kBlockHeaderFrameLength = DataFrameLength(kBlockHeaderLength);  // 14
constexpr DWORD kHeaderCountAt = 0;
constexpr DWORD kHeaderFormatAt = 2;
constexpr DWORD kHeaderYearAt = 3;
constexpr DWORD kHeaderMonthAt = 5;
constexpr DWORD kHeaderDayAt = 6;
constexpr DWORD kHeaderHourAt = 7;
constexpr DWORD kHeaderMinuteAt = 8;

// Mode 7 delivers the three stores as blocks 1, 2 and 3 in one stream.
constexpr int kSingleBlock = 0;
constexpr int kBlocksOfAllStores = 3;

// Record formats. Every record starts with the pressures; format 1 dates
// itself by a 24-bit minute offset from the block's start, formats 2 and 3
// carry their own time.
struct RecordFormat {
  BYTE code;
  DWORD length;
  DWORD statusAt;
  DWORD flagsAt;
  bool ownTime;
  bool auxValues;
};
constexpr std::array<RecordFormat, 3> kRecordFormats{{
    {1, 10, 8, 9, false, false},
    {2, 12, 10, 11, true, false},
    {3, 20, 10, 11, true, true},
}};
constexpr DWORD kLongestRecord = 20;

constexpr DWORD kRecSysAt = 0;  // 16 bits
constexpr DWORD kRecPress2At = 2;
constexpr DWORD kRecPulseAt = 3;
constexpr DWORD kRecPress3At = 4;
constexpr DWORD kRecOffsetAt = 5;  // format 1: 24 bits, minutes
constexpr DWORD kRecYearAt = 5;    // formats 2 and 3: year - 2000, month, day, hour, minute
constexpr DWORD kRecAux1At = 12;   // format 3
constexpr DWORD kRecAux2At = 13;
constexpr int kRecordYearBase = 2000;

constexpr BYTE kFlagsLowMask = 0x0F;
constexpr int kFlagsHighShift = 4;
// The statuses a device stores with a usable measurement.
// Which of the three sets a block fills: set 2 for data modes 3 and 5, set 3
// for mode 6, in mode 7 the set of the block's number, set 1 otherwise.
int SetIndexFor(int mode, int block) {
  constexpr int kSet1 = 0, kSet2 = 1, kSet3 = 2;
  switch (mode) {
    case DATAMODE_ZONE_ALL: return std::clamp(block, 1, kBlocksOfAllStores) - 1;
    case DATAMODE_BP_SET2:
    case DATAMODE_ZONE2: return kSet2;
    case DATAMODE_ZONE3: return kSet3;
    default: return kSet1;
  }
}

const RecordFormat* FindFormat(BYTE code) {
  const auto it = std::find_if(kRecordFormats.begin(), kRecordFormats.end(),
                               [code](const RecordFormat& f) { return f.code == code; });
  return it != kRecordFormats.end() ? &*it : nullptr;
}

void StorePlan(const BYTE* p, _BP_TRANSPORT_INFO& plan) {
  bplink::wire::TakePatientTexts(plan, p + kPlanPatientTextsAt);
  CalendarTime time = bplink::wire::TakeClock(p + kPlanClockAt);
  time.second = p[kPlanSecondAt];
  bplink::SetTimeFields(plan, time);
  bplink::wire::TakePeriods(plan, p + kPlanPeriodsAt);
  plan.nExtraStartHour = p[kPlanExtraStartHourAt];
  plan.nExtraStartMinute = p[kPlanExtraStartMinuteAt];
  plan.nExtraInterval = p[kPlanExtraIntervalAt];
  plan.nExtraEndHour = p[kPlanExtraEndHourAt];
  plan.nExtraEndMinute = p[kPlanExtraEndMinuteAt];
  // A device that sends 0 there has the option unset.
  plan.nOption2 = p[kPlanOption2At] != 0 ? p[kPlanOption2At] : bplink::wire::kUnset;
  // Devices that do not keep this setting send 0 here; the plan keeps its own.
  const int option3 = BigEndian16(p + kPlanOption3At);
  if (option3 != 0) plan.nOption3 = option3;
}

_BP_RECORD DecodeRecord(const RecordFormat& format, const BYTE* d, const CalendarTime& start) {
  _BP_RECORD record;
  record.nSys = BigEndian16(d + kRecSysAt);
  record.wPress2 = d[kRecPress2At];
  record.wPulseRate = d[kRecPulseAt];
  record.wPress3 = d[kRecPress3At];

  CalendarTime time;
  if (format.ownTime) {
    time = CalendarTime{d[kRecYearAt] + kRecordYearBase, d[kRecYearAt + 1], d[kRecYearAt + 2],
                        d[kRecYearAt + 3], d[kRecYearAt + 4], 0};
  } else {
    const int minutes = bplink::wire::BigEndian24(d + kRecOffsetAt);
    time = bplink::AddMinutes(start, minutes);
  }
  bplink::SetRecordTime(record, time);

  const BYTE flags = d[format.flagsAt];
  record.wStatus = d[format.statusAt];
  record.byFlagsLow = flags & kFlagsLowMask;
  record.wFlagsHigh = static_cast<short>(flags >> kFlagsHighShift);
  if (format.auxValues) {
    record.wAux1 = d[kRecAux1At];
    record.wAux2 = d[kRecAux2At];
  }
  record.bValid = bplink::IsUsableStatus(record.wStatus) ? 1 : 0;
  return record;
}

}  // namespace

// Reads the plan into the plan record. Three-store monitors and recorders of
// variant 1 keep no plan; only data modes 1 and 2 ask for it.
int CProtocol_NEW::DownloadBPInfo() {
  try {
    const int type = m_SupportInfo.nDeviceType;
    if (type == bplink::kDeviceThreeStores) return kResultOk;
    if (type == bplink::kDeviceAmbulatory && m_SupportInfo.nVariant == kVariantNoPlan) return kResultOk;
    if (m_nABPM_Type != DATAMODE_BP && m_nABPM_Type != DATAMODE_BP_SPO2) return kResultOk;

    CProtocolBase::DownloadBPInfo();
    if (IsStopRequested()) return kResultOk;
    SetProgress(kProgressRequested);
    int r = RequestParameter(kOpRead, kObjPlan, kPlanPauseMs);
    if (r != kResultOk) return r;

    // The code bytes of the plan frame are not checked: a wrong frame shows
    // itself when its payload does not unpack.
    BYTE* frame = NewBuffer(kPlanFrameLength);
    std::array<BYTE, kPlanLength> plan{};
    if (!ReceiveFrame(frame, kPlanFrameLength)) {
      r = bplink::kResultIoFailed;
    } else {
      SetProgress(kProgressReceived);
      if (!UnpackPayload(frame + kDataFrameCodeBytes, kPlanLength, plan.data())) {
        r = bplink::kResultNotForDevice;
      } else {
        SetProgress(kProgressDecoded);
        StorePlan(plan.data(), m_UploadNeeded.Info);
        SetProgress(kProgressStored);
      }
    }
    FreeBuffer();
    SetProgress(kProgressDone);
    return r;
  } catch (...) {
    FreeBuffer();
    return bplink::kResultException;
  }
}

int CProtocol_NEW::DownloadBPData() {
  try {
    CProtocolBase::DownloadBPData();
    if (IsStopRequested()) return kResultOk;
    const int r = RequestParameter(kOpRead, kObjBPRecords, 0);
    if (r != kResultOk) return r;

    if (m_nABPM_Type != DATAMODE_ZONE_ALL)
      return DownloadBPDataBlock(kSingleBlock) ? kResultOk : bplink::kResultIoFailed;
    // Every store is read even when an earlier one failed. A stop request
    // between stores ends the download there, as it does between steps.
    bool complete = true;
    for (int block = 1; block <= kBlocksOfAllStores && !IsStopRequested(); ++block)
      complete = DownloadBPDataBlock(block) && complete;
    return complete ? kResultOk : bplink::kResultIoFailed;
  } catch (...) {
    return bplink::kResultException;
  }
}

// Receives one block into the set the data mode (or, in mode 7, the block
// number) chooses. The set is replaced; a failed or stopped block keeps the
// records that arrived, and nCount keeps the device's announced count.
bool CProtocol_NEW::DownloadBPDataBlock(int nBlock) {
  try {
    SetProgress(0);
    _BP_DATASET* sets[] = {&m_BPSet1, &m_BPSet2, &m_BPSet3};
    _BP_DATASET& set = *sets[SetIndexFor(m_nABPM_Type, nBlock)];
    set.Head = _DATA_HEAD{};
    set.vecRecords.clear();

    BYTE* frame = NewBuffer(kBlockHeaderFrameLength);
    std::array<BYTE, kBlockHeaderLength> header{};
    if (!ReceiveFrame(frame, kBlockHeaderFrameLength) || frame[0] != kFrameBPHeader ||
        frame[1] != m_byIdentity ||
        !UnpackPayload(frame + kDataFrameCodeBytes, kBlockHeaderLength, header.data())) {
      FreeBuffer();
      return false;
    }

    const RecordFormat* format = FindFormat(header[kHeaderFormatAt]);
    const int count = format != nullptr ? BigEndian16(&header[kHeaderCountAt]) : 0;
    CalendarTime start;
    if (format != nullptr) {
      set.Head.nCount = count;
      if (!format->ownTime) {
        start = CalendarTime{BigEndian16(&header[kHeaderYearAt]),
                             header[kHeaderMonthAt], header[kHeaderDayAt], header[kHeaderHourAt],
                             header[kHeaderMinuteAt], 0};
        bplink::SetTimeFields(set.Head, start);
      }
    }
    if (count == 0) {
      FreeBuffer();
      SetProgress(kProgressDone);
      return true;
    }

    // Room for every announced record at once: the count is 16 bits, so this
    // is at most a few megabytes, and a sequence grown record by record would
    // copy each record again at every growth and, while it grows, hold the
    // old storage and the new together (half as much again at the peak).
    set.vecRecords.reserve(static_cast<std::size_t>(count));
    const DWORD frameLength = PackedLength(format->length);
    frame = NewBuffer(frameLength);
    bool complete = true;
    for (int i = 0; i < count; ++i) {
      if (!ReceiveFrame(frame, frameLength)) {
        complete = false;
        break;
      }
      // A record that does not unpack is dropped; the block goes on.
      std::array<BYTE, kLongestRecord> plain{};
      if (UnpackPayload(frame, format->length, plain.data()))
        set.vecRecords.push_back(DecodeRecord(*format, plain.data(), start));
      SetProgress(std::min(kProgressDone, (i + 1) * kProgressDone / count));
      if (IsStopRequested()) break;
    }

    // A block that ended early gives back the room of the records it lacked.
    if (set.vecRecords.size() < static_cast<std::size_t>(count)) set.vecRecords.shrink_to_fit();
    if (format->ownTime && !set.vecRecords.empty())
      bplink::SetTimeFields(set.Head, bplink::RecordTime(set.vecRecords.front()));
    FreeBuffer();
    return complete;
  } catch (...) {
    FreeBuffer();
    return false;
  }
}
