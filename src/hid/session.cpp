// A HID session: open, identify, shake hands, run the transfers, end, close.
// The three host entry points and the data-mode query live here; each
// transfer has a source of its own.

#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_new.h>

#include <algorithm>
#include <array>

#include "hid/device_rules.h"
#include "hid/frames.h"

using namespace bplink::hid;
using bplink::kResultOk;

namespace {

constexpr int kHidDeviceNumber = 0;
constexpr unsigned kDeletePauseMs = 100;
constexpr unsigned kEndSessionPauseMs = 100;

constexpr int kDeleteProgress = 20;
constexpr int kUploadProgressPlan = 40;
constexpr int kUploadProgressAlarms = 80;
constexpr int kUploadProgressPatient = 90;
constexpr int kUploadProgressEnd = 99;
constexpr int kProgressDone = 100;

}  // namespace

CProtocol_NEW::CProtocol_NEW() = default;

CProtocol_NEW::CProtocol_NEW(const CProtocol_NEW& other)
    : CProtocolBase(other), m_byIdentity(other.m_byIdentity), m_byVersion(other.m_byVersion) {}

CProtocol_NEW& CProtocol_NEW::operator=(const CProtocol_NEW& other) {
  if (this != &other) {
    CProtocolBase::operator=(other);
    FreeBuffer();
    m_byIdentity = other.m_byIdentity;
    m_byVersion = other.m_byVersion;
  }
  return *this;
}

CProtocol_NEW::~CProtocol_NEW() = default;

// The start of a download or an upload: the running mode, progress 0, state
// running, and the link opened; a link that does not open fails the state.
int CProtocol_NEW::StartTransfer(enum_DataMode nMode, bool bClearData) {
  m_nABPM_Type = nMode;
  SetProgress(0);
  SetState(bplink::kStateRunning);
  if (bClearData) ClearAllData();
  const int r = OpenHIDDev();
  if (r != kResultOk) SetState(bplink::kStateFailed);
  return r;
}

// A download or upload that raised an exception ends with the link closed.
int CProtocol_NEW::AbortTransfer() {
  CloseHIDDev();
  SetState(bplink::kStateFailed);
  return bplink::kResultException;
}

int CProtocol_NEW::OpenHIDDev() {
  if (m_pDevice == nullptr) return bplink::kResultCannotStart;
  return m_pDevice->Open(kHidDeviceNumber) != 0 ? kResultOk : bplink::kResultNoLink;
}

// Never throws: it also runs on the way out of a failed operation.
int CProtocol_NEW::CloseHIDDev() {
  if (m_pDevice == nullptr) return bplink::kResultNotForDevice;
  try {
    m_pDevice->Close();
  } catch (...) {
  }
  return kResultOk;
}

int CProtocol_NEW::GetDeviceInfo() {
  try {
    std::array<BYTE, kDeviceInfoReplyLength> reply{};
    const int r = CommandWithReply(kCmdDeviceInfo, reply.data(), kDeviceInfoReplyLength, kReplyDeviceInfo);
    if (r != kResultOk) return r;

    m_SupportInfo.nReserved = bplink::kNotReported;
    m_SupportInfo.nVariant = bplink::kNotReported;
    m_byIdentity = reply[kInfoIdentityAt];
    m_byVersion = reply[kInfoVersionAt];
    m_SupportInfo.nDeviceType = GetDeviceType(m_byIdentity);
    m_SupportInfo.nProtocol = GetDeviceProtocol(m_byIdentity);
    m_SupportInfo.nVersion = m_byVersion;
    GetDataMode(m_SupportInfo.nDeviceType);

    const BYTE flags = reply[kInfoFlagsAt];
    const bool flagsValid = (flags & kFlagsValid) != 0;
    if (flagsValid && (flags & kFlagsFirstStoreOnly) != 0 &&
        m_SupportInfo.nDeviceType == bplink::kDeviceThreeStores) {
      int* modes = DataModeFlags();
      modes[DATAMODE_ZONE1] = 1;
      modes[DATAMODE_ZONE2] = 0;
      modes[DATAMODE_ZONE3] = 0;
    }
    if (!flagsValid && m_SupportInfo.nProtocol == bplink::kProtocolHidFirst)
      m_SupportInfo.nVariant = IsSingleSetRecorder(m_byIdentity) ? kVariantNoPlan
                                                                 : kVariantWithPlan;
    return kResultOk;
  } catch (...) {
    return bplink::kResultException;
  }
}

// The handshake may offer data modes beyond those of the device type; a
// mode counts as offered when both capability bytes carry its bit.
int CProtocol_NEW::DoHandShake() {
  try {
    std::array<BYTE, kHandShakeReplyLength> reply{};
    const int r = CommandWithReply(kCmdHandShake, reply.data(), kHandShakeReplyLength, kReplyHandShake);
    if (r != kResultOk) return r;

    if (reply[kCapabilityMarkerAt] == kCapabilityMarker) {
      const BYTE offered = reply[kCapabilityAAt] & reply[kCapabilityBAt];
      int* modes = DataModeFlags();
      for (int bit = 0; bit < kCapabilityModes; ++bit)
        if ((offered & (1u << bit)) != 0) modes[DATAMODE_BP + bit] = 1;
    }
    return kResultOk;
  } catch (...) {
    return bplink::kResultException;
  }
}

int CProtocol_NEW::BreakHandShake() {
  try {
    ShortFrame frame = EndSessionFrame(m_byIdentity);
    return SendForAck(frame.data(), kShortCommandLength, 0, bplink::kResultUnexpectedReply);
  } catch (...) {
    return bplink::kResultException;
  }
}

// The device acknowledges a delete, but what it answers says nothing about
// the records: any reply counts.
bool CProtocol_NEW::DeleteBPData() {
  try {
    if (IsStopRequested()) return true;
    SetStage(TRANSPORT_DELETE);
    SetProgress(kDeleteProgress);
    ShortFrame request = ParameterRequest(m_byIdentity, kOpDelete, m_nABPM_Type, kObjBPRecords);
    if (!SendFrame(request.data(), kRequestLength)) return false;
    bplink::CurrentEnv()->Sleep(kDeletePauseMs);
    std::array<BYTE, kAckLength> ack{};
    return ReceiveFrame(ack.data(), kAckLength);
  } catch (...) {
    return false;
  }
}

int CProtocol_NEW::GetDownLoadDataMode(int* pnDataMode) {
  try {
    int r = OpenHIDDev();
    if (r != kResultOk) return r;
    r = GetDeviceInfo();
    if (r == kResultOk) r = DoHandShake();
    if (r == kResultOk && pnDataMode != nullptr)
      std::copy_n(DataModeFlags(), kDataModeCount, pnDataMode);
    CloseHIDDev();
    return r;
  } catch (...) {
    CloseHIDDev();
    return bplink::kResultException;
  }
}

int CProtocol_NEW::GetProtocolVersion(_SUB_VERSION& version) {
  version.nMainVersion = 1;
  version.nSubVersion = m_byVersion;
  return kResultOk;
}

// A stop request between steps ends the chain without failing it: the host
// keeps what arrived, with result 1 and state 3.
int CProtocol_NEW::PC_Download(enum_DataMode nMode) {
  if (m_pnState == nullptr) return bplink::kResultCannotStart;
  if (nMode == DATAMODE_NONE) {
    SetState(bplink::kStateFailed);
    return bplink::kResultCannotStart;
  }
  try {
    int r = StartTransfer(nMode, true);
    if (r != kResultOk) return r;

    r = GetDeviceInfo();
    if (r == kResultOk) r = DoHandShake();
    const auto goOn = [&] { return r == kResultOk && !IsStopRequested(); };
    const int type = m_SupportInfo.nDeviceType;
    if (goOn()) r = DownloadBPInfo();
    if (goOn()) r = DownloadBPData();
    if (goOn() && type == bplink::kDeviceWithSpO2) r = DownloadSpO2Data();
    if (goOn()) r = DownloadWarnInfo();
    if (r == kResultOk && type == bplink::kDeviceAmbulatory) {
      // A recorder keeps a second set, delivered as data mode 3 in the same session.
      if (!IsSingleSetRecorder(m_byIdentity)) {
        SetProgress(0);
        m_nABPM_Type = DATAMODE_BP_SET2;
        r = DownloadBPData();
      }
      if (r == kResultOk) {
        BreakHandShake();  // the recorder needs it; its answer changes nothing
        if (HoldsPatientInfo(type, m_SupportInfo.nVersion)) r = DownloadPatientInfo();
      }
    }

    CloseHIDDev();
    FinishState(r);
    return r;
  } catch (...) {
    return AbortTransfer();
  }
}

// Uses the identification of the last PC_Download, GetDownLoadDataMode or
// PC_Delete on this object; an upload identifies nothing itself.
int CProtocol_NEW::PC_Upload(enum_DataMode nMode) {
  const int type = m_SupportInfo.nDeviceType;
  if (type == bplink::kDeviceThreeStores) return bplink::kResultNotInFamily;
  if (m_pnState == nullptr) return bplink::kResultCannotStart;
  try {
    int r = StartTransfer(nMode, false);
    if (r != kResultOk) return r;

    SetProgress(kUploadProgressPlan);
    r = UploadBPInfo();
    if (r == kResultOk) {
      SetProgress(kUploadProgressAlarms);
      if (HoldsAlarmLimits(type, m_byVersion)) r = UploadWarnInfo();
    }
    if (r == kResultOk && HoldsWarnSwitch(type, m_SupportInfo.nVersion)) r = UploadWarnSwitchInfo();
    if (r == kResultOk) {
      SetProgress(kUploadProgressPatient);
      if (HoldsPatientInfo(type, m_SupportInfo.nVersion)) r = UploadPatientInfo();
    }
    if (r == kResultOk) {
      SetProgress(kUploadProgressEnd);
      if (IsRecorderIdentity(m_byIdentity)) {
        // Recorders expect the end of the session after an upload; whether
        // they acknowledge it does not change the upload's result.
        ShortFrame frame = EndSessionFrame(m_byIdentity);
        if (SendFrame(frame.data(), kShortCommandLength)) {
          bplink::CurrentEnv()->Sleep(kEndSessionPauseMs);
          std::array<BYTE, kAckLength> ack{};
          ReceiveFrame(ack.data(), kAckLength);
        }
      }
    }

    CloseHIDDev();
    SetProgress(kProgressDone);
    FinishState(r);
    return r;
  } catch (...) {
    return AbortTransfer();
  }
}

// Only the three-store monitors (device type 5) let the host delete; the
// device is identified again first, and the state variable is left alone.
int CProtocol_NEW::PC_Delete(enum_DataMode nMode) {
  if (m_SupportInfo.nDeviceType != bplink::kDeviceThreeStores) return bplink::kResultNotInFamily;
  try {
    m_nABPM_Type = nMode;
    ClearAllData();
    if (m_pnState == nullptr) return bplink::kResultCannotStart;
    int r = OpenHIDDev();
    if (r != kResultOk) return r;
    r = GetDeviceInfo();
    if (r == kResultOk) r = DoHandShake();
    if (r == kResultOk && !IsStopRequested())
      r = DeleteBPData() ? kResultOk : bplink::kResultIoFailed;
    CloseHIDDev();
    return r;
  } catch (...) {
    CloseHIDDev();
    return bplink::kResultException;
  }
}
