// The KX71 protocol object: identity, offered data modes, and the two host
// operations in the order they run.

#include <bplink/codes.h>
#include <bplink/protocol_kx71.h>

#include "frame/record_fields.h"
#include "serial/line.h"
#include "serial/transfer.h"
#include "serial/kx71/wire.h"

using namespace bplink::serial::kx71;
using bplink::kResultOk;

CProtocolCOMKX71::CProtocolCOMKX71() {
  bplink::serial::Identify(m_SupportInfo, bplink::kDeviceAmbulatory, bplink::kProtocolKX71);
}

CProtocolCOMKX71::CProtocolCOMKX71(const CProtocolCOMKX71& other) = default;
CProtocolCOMKX71& CProtocolCOMKX71::operator=(const CProtocolCOMKX71& other) = default;
CProtocolCOMKX71::~CProtocolCOMKX71() = default;

int CProtocolCOMKX71::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode == nullptr) return bplink::kResultCannotStart;
  pnDataMode[DATAMODE_BP] = 1;
  pnDataMode[DATAMODE_BP_SET2] = 1;
  return kResultOk;
}

// The handshake, the recorder's stream of records until it falls silent,
// then its stored plan when it keeps one. A recorder that is not found
// leaves the data of the last download in place. A host's stop ends the
// stream and skips the plan request, as every transfer skips the steps after
// a stop: the recorder is still streaming then and would answer it with a
// record, not a plan.
int CProtocolCOMKX71::PC_Download(enum_DataMode nMode) {
  return bplink::serial::RunTransfer(
      bplink::HostVariables(m_pnProgress, m_pnState), m_pDevice, nMode,
      [this]() -> int {
        m_strPortPath.clear();
        const int found = DoHandShake();
        if (found != kResultOk) bplink::serial::CloseQuietly(m_pDevice);
        return found;
      },
      [this]() -> int {
        ClearAllData();
        DownloadBPData();
        if (m_bDeviceKeepsPlan && !IsStopRequested()) {
          const int plan = DownloadBPInfo();
          if (plan != kResultOk) return plan;
        }
        bplink::HeadFromFirstRecord(m_BPSet1);
        bplink::HeadFromFirstRecord(m_BPSet2);
        return kResultOk;
      });
}

// The handshake, then the recorder is found again by its upload probe and
// takes the plan block.
int CProtocolCOMKX71::PC_Upload(enum_DataMode nMode) {
  return bplink::serial::RunTransfer(
      bplink::HostVariables(m_pnProgress, m_pnState), m_pDevice, nMode,
      [this]() -> int {
        const int found = DoHandShake();
        bplink::serial::CloseQuietly(m_pDevice);
        if (found != kResultOk) return found;
        return OpenDevice(Line(), kUploadProbe, kConfirm);
      },
      [this] { return UploadBPInfo(); });
}
