// The VESTRA18 protocol object: identity, the offered data modes, the
// download, and the upload the family does not take.

#include <bplink/codes.h>
#include <bplink/protocol_vestra18.h>

#include "frame/record_fields.h"
#include "serial/transfer.h"
#include "serial/vestra18/wire.h"

using namespace bplink::serial::vestra18;
using bplink::kResultOk;

namespace {

constexpr int kProgressDone = 100;

}  // namespace

CProtocolCOMVESTRA18::CProtocolCOMVESTRA18() {
  bplink::serial::Identify(m_SupportInfo, bplink::kDeviceThreeStores, bplink::kProtocolVESTRA18);
}

CProtocolCOMVESTRA18::CProtocolCOMVESTRA18(const CProtocolCOMVESTRA18& other) = default;
CProtocolCOMVESTRA18& CProtocolCOMVESTRA18::operator=(const CProtocolCOMVESTRA18& other) = default;
CProtocolCOMVESTRA18::~CProtocolCOMVESTRA18() = default;

int CProtocolCOMVESTRA18::PC_Upload(enum_DataMode) { return bplink::kResultNotInFamily; }

int CProtocolCOMVESTRA18::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode != nullptr)
    pnDataMode[DATAMODE_ZONE1] = pnDataMode[DATAMODE_ZONE2] = pnDataMode[DATAMODE_ZONE3] = 1;
  return kResultOk;
}

// The request of the data mode's sub-mode and its echo, then the sections
// of the stores asked for. The search leaves no port open when it fails.
int CProtocolCOMVESTRA18::PC_Download(enum_DataMode nMode) {
  return bplink::serial::RunTransfer(
      bplink::HostVariables(m_pnProgress, m_pnState), m_pDevice, nMode,
      [this, nMode]() -> int {
        if (!IsFamilyMode(nMode)) return bplink::kResultNotInFamily;
        m_nSubMode = nMode - kSubModeOffset;
        return DoHandShake();
      },
      [this]() -> int {
        ClearAllData();
        const int result = DownloadBPData();
        SetProgress(kProgressDone);
        // A failed download keeps the counts the monitor announced.
        if (result != kResultOk) return result;
        for (_BP_DATASET* set : {&m_BPSet1, &m_BPSet2, &m_BPSet3}) bplink::HeadFromFirstRecord(*set);
        return kResultOk;
      });
}
