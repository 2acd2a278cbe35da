// The KV32 protocol object: identity, offered data modes, and the two host
// operations in the order they run.

#include <bplink/codes.h>
#include <bplink/comports.h>
#include <bplink/protocol_kv32.h>

#include "serial/transfer.h"
#include "serial/kv32/wire.h"

using namespace bplink::serial::kv32;
using bplink::kResultOk;

CProtocolCOMKV32::CProtocolCOMKV32() {
  bplink::serial::Identify(m_SupportInfo, bplink::kDeviceWithSpO2, bplink::kProtocolKV32);
}

CProtocolCOMKV32::CProtocolCOMKV32(const CProtocolCOMKV32& other) = default;
CProtocolCOMKV32& CProtocolCOMKV32::operator=(const CProtocolCOMKV32& other) = default;
CProtocolCOMKV32::~CProtocolCOMKV32() = default;

int CProtocolCOMKV32::GetDownLoadDataMode(int* pnDataMode) {
  if (pnDataMode != nullptr) pnDataMode[DATAMODE_BP] = pnDataMode[DATAMODE_BP_SPO2] = 1;
  return kResultOk;
}

// The greeting at 4800 baud, then on the same port at 115200 baud the plan
// with the record counts, and the records one request at a time.
int CProtocolCOMKV32::PC_Download(enum_DataMode nMode) {
  return bplink::serial::RunTransfer(
      bplink::HostVariables(m_pnProgress, m_pnState), m_pDevice, nMode,
      [this]() -> int {
        m_strPortPath.clear();
        return DoHandShake();
      },
      [this]() -> int {
        // A port that will not reopen shows up as an unanswered plan request.
        m_pDevice->Open(m_strPortPath, bplink::SerialLine(kFastBaud));
        ClearAllData();
        return bplink::serial::DownloadPlanThenRecords([this] { return DownloadBPInfo(); },
                                                       [this] { return DownloadBPData(); }, m_BPSet1);
      });
}

// The monitor is found at 4800 baud by the upload command, then takes the
// plan block.
int CProtocolCOMKV32::PC_Upload(enum_DataMode nMode) {
  return bplink::serial::RunTransfer(
      bplink::HostVariables(m_pnProgress, m_pnState), m_pDevice, nMode,
      [this] { return OpenDevice(bplink::SerialLine(kSlowBaud), kCmdUpload, kCmdUpload); },
      [this] { return UploadBPInfo(); });
}
