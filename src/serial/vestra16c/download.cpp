// VESTRA16C download: the handshake at 4800 baud, then the settings block
// and the records at 115200 baud on the same port.

#include <bplink/env.h>
#include <bplink/protocol_vestra16c.h>

#include <algorithm>
#include <iterator>

#include "serial/vestra16/blocks.h"
#include "serial/vestra16/byte_link.h"
#include "serial/vestra16/transfer.h"
#include "serial/vestra16c/commands.h"

using namespace bplink::serial::vestra16;
using namespace bplink::serial::vestra16c;

namespace {

constexpr int kSettingsAttempts = 5;
// Requests for one record before the download is given up; a record is
// never skipped.
constexpr int kRecordAttempts = 10;

}  // namespace

int CProtocolCOMVESTRA16C::PC_Download(enum_DataMode nMode) {
  return Transfer::Run(*this, nMode, [this] { return DoHandShake(); }, [this] {
    // The handshake closed the port; the data go over it again at the fast
    // speed. A port that does not reopen shows up as failed exchanges.
    m_pDevice->Open(m_strPortPath, Line(kFastBaud));
    return Transfer::Download(*this);
  });
}

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
      SetProgress(Percent(static_cast<std::size_t>(i), static_cast<std::size_t>(count)));
    }
    return bplink::kResultOk;
  } catch (...) {
    return bplink::kResultException;
  }
}
