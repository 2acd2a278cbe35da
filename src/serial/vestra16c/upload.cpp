// VESTRA16C plan upload at 4800 baud: 0xAA answered with 0x6C, then 70
// bytes, each acknowledged with 0x6C.

#include <bplink/protocol_vestra16c.h>

#include <algorithm>
#include <iterator>

#include "serial/vestra16/blocks.h"
#include "serial/vestra16/byte_link.h"
#include "serial/vestra16/transfer.h"
#include "serial/vestra16c/commands.h"

using namespace bplink::serial::vestra16;
using namespace bplink::serial::vestra16c;

int CProtocolCOMVESTRA16C::PC_Upload(enum_DataMode nMode) {
  return Transfer::Run(
      *this, nMode, [this] { return OpenDevice(Line(kHandshakeBaud), kCmdWriteSettings, kAnswer); },
      [this] { return UploadBPInfo(); });
}

int CProtocolCOMVESTRA16C::UploadBPInfo() {
  CProtocolBase::UploadBPInfo();
  try {
    std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);
    if (!PC_Pack()) return bplink::kResultNotForDevice;
    const bool sent = SendAcknowledged(*m_pDevice, m_byBuffer, kUploadBlockLength, kAnswer,
                                       [this](std::size_t i) { SetProgress(Percent(i, kUploadBlockLength)); });
    return sent ? bplink::kResultOk : bplink::kResultUnexpectedReply;
  } catch (...) {
    return bplink::kResultException;
  }
}
