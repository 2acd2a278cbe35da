// VESTRA16 plan upload: 0xAA, then 70 bytes, each acknowledged with 0xAA.

#include <bplink/protocol_vestra16.h>

#include <algorithm>
#include <iterator>

#include "serial/vestra16/blocks.h"
#include "serial/vestra16/byte_link.h"
#include "serial/vestra16/transfer.h"

using namespace bplink::serial::vestra16;

int CProtocolCOMVESTRA16::PC_Upload(enum_DataMode nMode) {
  return Transfer::Run(
      *this, nMode, [this] { return OpenDevice(Line(kHandshakeBaud), kCmdWriteSettings, kCmdWriteSettings); },
      [this] { return UploadBPInfo(); });
}

int CProtocolCOMVESTRA16::UploadBPInfo() {
  CProtocolBase::UploadBPInfo();
  SetProgress(0);
  SetState(bplink::kStateRunning);
  std::fill(std::begin(m_byBuffer), std::end(m_byBuffer), 0);

  if (!PC_Pack()) return bplink::kResultIoFailed;
  const bool sent = SendAcknowledged(*m_pDevice, m_byBuffer, kUploadBlockLength, kCmdWriteSettings,
                                     [this](std::size_t i) { SetProgress(Percent(i, kUploadBlockLength)); });
  return sent ? bplink::kResultOk : bplink::kResultIoFailed;
}
