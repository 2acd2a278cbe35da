// One stored measurement, and the set's header once all have come.

#include "frame/record_time.h"
#include "serial/vestra16/blocks.h"

namespace bplink::serial::vestra16 {
namespace {

constexpr BYTE kStatusOk = 0;
constexpr BYTE kStatusOkAlso = 3;

}  // namespace

_BP_RECORD DecodeRecordBlock(const BYTE* block, const CalendarTime& start) {
  _BP_RECORD record;
  record.nMinuteOffset = (block[kRecordOffsetHigh] << 16) | (block[kRecordOffsetLow] << 8) |
                         block[kRecordOffsetLow + 1];
  record.nSys = (block[kRecordSys] << 8) | block[kRecordSys + 1];
  record.wPress2 = block[kRecordPress2];
  record.wPulseRate = block[kRecordPulse];
  record.wPress3 = block[kRecordPress3];
  record.wStatus = block[kRecordStatus];
  record.bValid = (block[kRecordStatus] == kStatusOk || block[kRecordStatus] == kStatusOkAlso) ? 1 : 0;
  record.byFlagsLow = block[kRecordFlags];  // the whole byte; this family has no high flags

  const CalendarTime at = AddMinutes(start, record.nMinuteOffset);
  bplink::SetRecordTime(record, at);
  return record;
}


}  // namespace bplink::serial::vestra16
