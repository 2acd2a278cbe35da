// One VESTRA16 record, from the block after the 0xEE echo.

#include <bplink/protocol_vestra16.h>

#include <utility>

#include "serial/vestra16/blocks.h"

using namespace bplink::serial::vestra16;

bool CProtocolCOMVESTRA16::PC_Unpack() {
  const BYTE* block = m_byBuffer + 1;
  _BP_RECORD record = DecodeRecordBlock(block, RecordingStart(m_UploadNeeded.Info));
  record.nAux3 = block[kRecordAux3];
  m_BPSet1.vecRecords.push_back(std::move(record));
  return true;
}
