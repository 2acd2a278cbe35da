// The base behaviour of every virtual slot, the progress conventions and the
// identity-byte tables.

#include <bplink/protocol_base.h>

#include <array>
#include <atomic>

#include "frame/host_variables.h"

enum_DataMode CProtocolBase::m_nABPM_Type = DATAMODE_NONE;

namespace {

// The intervals, in minutes, every family without an interval query allows.
constexpr std::array<int, 9> kStandardIntervals{5, 10, 15, 20, 30, 45, 60, 90, 120};

// The HID identity byte: the high nibble names the family of devices, the
// low nibble 1..E a model within it; low nibble F marks a byte that names a
// protocol only, low nibble 0 nothing at all.
constexpr int kIdentityFamilies = 6;
constexpr std::array<int, kIdentityFamilies> kTypeByFamily{
    bplink::kDeviceAmbulatory, bplink::kDeviceWithSpO2,     bplink::kDeviceType6,
    bplink::kDeviceType4,      bplink::kDeviceThreeStores, bplink::kDeviceType2};
// A HID device's protocol code is its device type's number; no HID protocol
// serves the third group.
constexpr std::array<int, kIdentityFamilies> kProtocolByFamily{1, 3, bplink::kProtocolUnknown, 4, 5, 2};
constexpr std::array<int, kIdentityFamilies> kProtocolOfMarker{
    bplink::kProtocolKX71,      bplink::kProtocolKV32,       bplink::kProtocolVESTRA16C,
    bplink::kProtocolVESTRA16, bplink::kProtocolVESTRA18, bplink::kProtocolUnknown};
constexpr BYTE kModelNone = 0x0;
constexpr BYTE kModelMarker = 0xF;

}  // namespace

CProtocolBase::CProtocolBase() = default;
CProtocolBase::CProtocolBase(const CProtocolBase& other) = default;
CProtocolBase& CProtocolBase::operator=(const CProtocolBase& other) = default;
CProtocolBase::~CProtocolBase() = default;

int CProtocolBase::PC_Download(enum_DataMode) { return bplink::kResultOk; }
int CProtocolBase::PC_Delete(enum_DataMode) { return bplink::kResultOk; }
int CProtocolBase::PC_Upload(enum_DataMode) { return bplink::kResultOk; }
int CProtocolBase::GetDownLoadDataMode(int*) { return bplink::kResultOk; }

void CProtocolBase::SetDevice(CDevice* pDevice, bool bOpened) {
  if (pDevice != nullptr) m_pDevice = pDevice;
  m_bOpened = bOpened;
}

int CProtocolBase::SetProgressInfo(int* pnProgress, int* pnState, enum_TransportType* pType) {
  if (pnProgress == nullptr) return bplink::kResultFalse;
  m_pnProgress = pnProgress;
  if (pnState == nullptr) return bplink::kResultFalse;
  m_pnState = pnState;
  if (pType == nullptr) return bplink::kResultFalse;
  m_pTransportType = pType;
  return bplink::kResultOk;
}

int CProtocolBase::PC_DownloadBPInfoTimeInterval(_UPLOAD_NEEDED_DATA& data) {
  try {
    data.vecInterval1.insert(data.vecInterval1.end(), kStandardIntervals.begin(),
                             kStandardIntervals.end());
    data.vecInterval2 = data.vecInterval1;
    data.Info = _BP_TRANSPORT_INFO{};
    return bplink::kResultNotForDevice;
  } catch (...) {
    return bplink::kResultException;
  }
}

bool CProtocolBase::SetUpLoadData(_BP_TRANSPORT_INFO info) {
  m_UploadNeeded.Info = info;
  return true;
}

int CProtocolBase::GetCurDeviceInfo(tag_SUPPORT_PROTOCOL& info) {
  info = m_SupportInfo;
  return bplink::kResultOk;
}

int CProtocolBase::GetProtocolVersion(_SUB_VERSION& version) {
  version.nMainVersion = 1;
  version.nSubVersion = 0;
  return bplink::kResultOk;
}

int CProtocolBase::UploadBPInfo() {
  SetStage(TRANSPORT_PLAN_UPLOAD);
  return bplink::kResultOk;
}

int CProtocolBase::DownloadBPInfo() {
  SetStage(TRANSPORT_PLAN_DOWNLOAD);
  return bplink::kResultOk;
}

int CProtocolBase::DownloadSpO2Data() {
  SetStage(TRANSPORT_SPO2);
  return bplink::kResultOk;
}

int CProtocolBase::DownloadBPData() {
  SetStage(StageForDataMode(m_nABPM_Type));
  return bplink::kResultOk;
}

int CProtocolBase::GetDataMode(int nDeviceType) {
  int* flags = DataModeFlags();
  switch (nDeviceType) {
    case bplink::kDeviceAmbulatory:
      flags[DATAMODE_BP] = flags[DATAMODE_BP_SET2] = 1;
      break;
    case bplink::kDeviceWithSpO2:
      flags[DATAMODE_BP] = flags[DATAMODE_BP_SPO2] = 1;
      break;
    case bplink::kDeviceType2:
    case bplink::kDeviceType4:
    case bplink::kDeviceType6:
      flags[DATAMODE_BP] = 1;
      break;
    case bplink::kDeviceThreeStores:
      flags[DATAMODE_ZONE1] = flags[DATAMODE_ZONE2] = flags[DATAMODE_ZONE3] = 1;
      break;
    default:
      return bplink::kResultNotForDevice;
  }
  return bplink::kResultOk;
}

int CProtocolBase::GetDeviceType(BYTE byIdentity) {
  const BYTE family = byIdentity >> 4;
  const BYTE model = byIdentity & 0x0F;
  if (family >= kIdentityFamilies || model == kModelNone || model == kModelMarker)
    return bplink::kDeviceUnknown;
  return kTypeByFamily[family];
}

int CProtocolBase::GetDeviceProtocol(BYTE byIdentity) {
  const BYTE family = byIdentity >> 4;
  const BYTE model = byIdentity & 0x0F;
  if (family >= kIdentityFamilies || model == kModelNone) return bplink::kProtocolUnknown;
  return model == kModelMarker ? kProtocolOfMarker[family] : kProtocolByFamily[family];
}

void CProtocolBase::SetProgress(int nPercent) {
  bplink::HostVariables(m_pnProgress, m_pnState).SetProgress(nPercent);
}

void CProtocolBase::SetStage(enum_TransportType stage) {
  if (m_pTransportType != nullptr)
    std::atomic_ref<enum_TransportType>(*m_pTransportType).store(stage);
}

void CProtocolBase::SetState(int nState) { bplink::HostVariables(m_pnProgress, m_pnState).SetState(nState); }

int CProtocolBase::GetState() const { return bplink::HostVariables(m_pnProgress, m_pnState).State(); }

bool CProtocolBase::IsStopRequested() const { return GetState() == bplink::kStateStopRequested; }

void CProtocolBase::FinishState(int nResult) { bplink::HostVariables(m_pnProgress, m_pnState).Finish(nResult); }

enum_TransportType CProtocolBase::StageForDataMode(int nMode) {
  switch (nMode) {
    case DATAMODE_NONE: return TRANSPORT_BP_MODE0;
    case DATAMODE_BP_SET2: return TRANSPORT_BP_SET2;
    case DATAMODE_ZONE1:
    case DATAMODE_ZONE_ALL: return TRANSPORT_BP_ZONE1;
    case DATAMODE_ZONE2: return TRANSPORT_BP_ZONE2;
    case DATAMODE_ZONE3: return TRANSPORT_BP_ZONE3;
    default: return TRANSPORT_BP;
  }
}
