// The VESTRA16 protocol object: identity, offered data modes, and the two
// host operations in the order they run.

#include <bplink/comports.h>
#include <bplink/protocol_vestra16.h>

#include "serial/transfer.h"
#include "serial/vestra16/wire.h"

using namespace bplink::serial::vestra16;

CProtocolCOMVESTRA16::CProtocolCOMVESTRA16() {
  bplink::serial::Identify(m_SupportInfo, bplink::kDeviceType4, bplink::kProtocolVESTRA16);
}

CProtocolCOMVESTRA16::CProtocolCOMVESTRA16(const CProtocolCOMVESTRA16& other) = default;
CProtocolCOMVESTRA16& CProtocolCOMVESTRA16::operator=(const CProtocolCOMVESTRA16& other) = default;
CProtocolCOMVESTRA16::~CProtocolCOMVESTRA16() = default;

int CProtocolCOMVESTRA16::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode != nullptr) pnDataMode[DATAMODE_BP] = 1;
  return bplink::kResultOk;
}

// The settings block, then one record per 0xEE.
int CProtocolCOMVESTRA16::PC_Download(enum_DataMode nMode) {
  return bplink::serial::RunTransfer(
      bplink::HostVariables(m_pnProgress, m_pnState), m_pDevice, nMode,
      [this] { return OpenDevice(bplink::SerialLine(kHandshakeBaud), kCmdReadSettings, kCmdReadSettings); },
      [this]() -> int {
        ClearAllData();
        return bplink::serial::DownloadPlanThenRecords([this] { return DownloadBPInfo(); },
                                                       [this] { return DownloadBPData(); }, m_BPSet1);
      });
}

// 0xAA, then the 70-byte plan block, each byte acknowledged with 0xAA.
int CProtocolCOMVESTRA16::PC_Upload(enum_DataMode nMode) {
  return bplink::serial::RunTransfer(
      bplink::HostVariables(m_pnProgress, m_pnState), m_pDevice, nMode,
      [this] { return OpenDevice(bplink::SerialLine(kHandshakeBaud), kCmdWriteSettings, kCmdWriteSettings); },
      [this] { return UploadBPInfo(); });
}
