// Decoding whatever block the buffer holds, by the command that asked for it.

#include <bplink/protocol_vestra16c.h>

#include "serial/vestra16/blocks.h"
#include "serial/vestra16c/commands.h"

using namespace bplink::serial::vestra16;
using namespace bplink::serial::vestra16c;

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
