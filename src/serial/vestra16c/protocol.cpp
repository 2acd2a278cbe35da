// The VESTRA16C protocol object: identity, offered data modes, and the two
// host operations in the order they run.

#include <bplink/comports.h>
#include <bplink/protocol_vestra16c.h>

#include "serial/transfer.h"
#include "serial/vestra16c/wire.h"

using namespace bplink::serial::vestra16;
using namespace bplink::serial::vestra16c;

CProtocolCOMVESTRA16C::CProtocolCOMVESTRA16C() {
  bplink::serial::Identify(m_SupportInfo, bplink::kDeviceType6, bplink::kProtocolVESTRA16C);
}

CProtocolCOMVESTRA16C::CProtocolCOMVESTRA16C(const CProtocolCOMVESTRA16C& other) = default;
CProtocolCOMVESTRA16C& CProtocolCOMVESTRA16C::operator=(const CProtocolCOMVESTRA16C& other) = default;
CProtocolCOMVESTRA16C::~CProtocolCOMVESTRA16C() = default;

int CProtocolCOMVESTRA16C::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode != nullptr) pnDataMode[DATAMODE_BP] = 1;
  return bplink::kResultOk;
}

// The handshake at 4800 baud, then the settings block and the records at
// 115200 baud on the same port.
int CProtocolCOMVESTRA16C::PC_Download(enum_DataMode nMode) {
  return bplink::serial::RunTransfer(
      bplink::HostVariables(m_pnProgress, m_pnState), m_pDevice, nMode, [this] { return DoHandShake(); },
      [this]() -> int {
        // The handshake closed the port; the data go over it again at the fast
        // speed. A port that does not reopen shows up as failed exchanges.
        m_pDevice->Open(m_strPortPath, bplink::SerialLine(kFastBaud));
        ClearAllData();
        return bplink::serial::DownloadPlanThenRecords([this] { return DownloadBPInfo(); },
                                                       [this] { return DownloadBPData(); }, m_BPSet1);
      });
}

// At 4800 baud: 0xAA answered with 0x6C, then the 70-byte plan block, each
// byte acknowledged with 0x6C.
int CProtocolCOMVESTRA16C::PC_Upload(enum_DataMode nMode) {
  return bplink::serial::RunTransfer(
      bplink::HostVariables(m_pnProgress, m_pnState), m_pDevice, nMode,
      [this] { return OpenDevice(bplink::SerialLine(kHandshakeBaud), kCmdWriteSettings, kAnswer); },
      [this] { return UploadBPInfo(); });
}
