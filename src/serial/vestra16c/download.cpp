// The download's exchanges on the fast line: the settings block (asked for
// up to five times), then every record (each asked for until it comes, up
// to ten times); and decoding whichever block came, by the command that
// asked for it.

#include <bplink/env.h>
#include <bplink/protocol_vestra16c.h>

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "serial/line.h"
#include "serial/vestra16c/wire.h"

using namespace bplink::serial::vestra16;
using namespace bplink::serial::vestra16c;

namespace {

constexpr int kSettingsAttempts = 5;
// Requests for one record before the download is given up; a record is
// never skipped.
constexpr int kRecordAttempts = 10;

}  // namespace

int CProtocolCOMVESTRA16C::DownloadBPInfo() {
  CProtocolBase::DownloadBPInfo();
  try {
    std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
    m_byBuffer[0] = kCmdReadSettingsFast;
    for (int attempt = 0; attempt < kSettingsAttempts; ++attempt) {
      if (PC_ReceivePack()) {
        PC_Unpack();
        return bplink::kResultOk;
      }
    }
    return bplink::kResultUnexpectedReply;
  } catch (...) {
    return bplink::kResultException;
  }
}

int CProtocolCOMVESTRA16C::DownloadBPData() {
  CProtocolBase::DownloadBPData();
  try {
    bplink::CurrentEnv()->Sleep(kAnswerPauseMs);
    const int count = m_BPSet1.Head.nCount;
    for (int i = 0; i < count; ++i) {
      std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
      m_byBuffer[0] = kCmdReadRecord;
      for (int failed = 0; !PC_ReceivePack();) {
        if (++failed == kRecordAttempts) return bplink::kResultUnexpectedReply;
      }
      PC_Unpack();
      if (IsStopRequested()) return bplink::kResultOk;
      SetProgress(bplink::serial::Percent(static_cast<std::size_t>(i), static_cast<std::size_t>(count)));
    }
    return bplink::kResultOk;
  } catch (...) {
    return bplink::kResultException;
  }
}

bool CProtocolCOMVESTRA16C::PC_ReceivePack() {
  std::size_t length = 0;
  switch (m_byBuffer[0]) {
    case kCmdReadSettingsFast: length = kSettingsBlockLength; break;
    case kCmdReadRecord: length = kRecordBlockLength; break;
    default: return true;  // no exchange for anything else
  }
  BYTE expected = m_byBuffer[0];
  if (!IsRightReceive(&m_byBuffer[0], &expected)) return false;
  bplink::serial::ReceiveBytewise(*m_pDevice, m_byBuffer + 1, length);
  return true;
}

bool CProtocolCOMVESTRA16C::PC_Unpack() {
  const BYTE* block = m_byBuffer + 1;
  switch (m_byBuffer[0]) {
    case kCmdReadSettingsFast:
      m_BPSet1.Head.nCount = DecodeSettingsBlock(block, kOption2On, m_UploadNeeded.Info);
      return true;
    case kCmdReadRecord:
      // Byte 12 carries nothing on this device.
      m_BPSet1.vecRecords.push_back(DecodeRecordBlock(block, RecordingStart(m_UploadNeeded.Info)));
      return true;
    default:
      return false;
  }
}
