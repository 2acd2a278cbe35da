// VESTRA16 download: the settings block, then one record per 0xEE.

#include <bplink/env.h>
#include <bplink/protocol_vestra16.h>

#include <algorithm>
#include <iterator>

#include "serial/vestra16/blocks.h"
#include "serial/vestra16/byte_link.h"
#include "serial/vestra16/transfer.h"

using namespace bplink::serial::vestra16;

namespace {

// The option switch is on when its byte is 0x01.
constexpr BYTE kOption2On = 0x01;
// Failed record exchanges that end a download; failed records are skipped.
constexpr int kMaxFailedRecords = 5;

}  // namespace

int CProtocolCOMVESTRA16::PC_Download(enum_DataMode nMode) {
  return Transfer::Run(
      *this, nMode, [this] { return OpenDevice(Line(kHandshakeBaud), kCmdReadSettings, kCmdReadSettings); },
      [this] { return Transfer::Download(*this); });
}

int CProtocolCOMVESTRA16::DownloadBPInfo() {
  CProtocolBase::DownloadBPInfo();
  SetProgress(0);
  SetState(bplink::kStateRunning);

  std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
  m_byBuffer[0] = kCmdReadSettings;
  BYTE expected = kCmdReadSettings;
  if (!IsRightReceive(&m_byBuffer[0], &expected)) return bplink::kResultIoFailed;
  ReceiveBytewise(*m_pDevice, m_byBuffer + 1, kSettingsBlockLength);
  m_BPSet1.Head.nCount = DecodeSettingsBlock(m_byBuffer + 1, kOption2On, m_UploadNeeded.Info);
  return bplink::kResultOk;
}

int CProtocolCOMVESTRA16::DownloadBPData() {
  CProtocolBase::DownloadBPData();
  bplink::CurrentEnv()->Sleep(kAnswerPauseMs);

  // Cleared once: a record byte that does not come keeps the previous
  // record's value, as the device's own software has always shown it.
  std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
  m_byBuffer[0] = kCmdReadRecord;
  BYTE expected = kCmdReadRecord;
  const int count = m_BPSet1.Head.nCount;
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    if (failures >= kMaxFailedRecords) return bplink::kResultUnexpectedReply;
    if (IsRightReceive(&m_byBuffer[0], &expected)) {
      ReceiveBytewise(*m_pDevice, m_byBuffer + 1, kRecordBlockLength);
      PC_Unpack();
    } else {
      ++failures;  // this record is skipped, not asked for again
    }
    SetProgress(Percent(static_cast<std::size_t>(i), static_cast<std::size_t>(count)));
    if (IsStopRequested()) break;
  }
  return failures >= kMaxFailedRecords ? bplink::kResultUnexpectedReply : bplink::kResultOk;
}
