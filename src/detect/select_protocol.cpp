// Detection: the object's devices, the HID request, and the walk over the
// serial ports with one probe per family.

#include <bplink/select_protocol.h>

#include <bplink/codes.h>
#include <bplink/comports.h>
#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_base.h>

#include <array>
#include <utility>

#include "detect/families.h"
#include "hid/device_rules.h"
#include "hid/frames.h"
#include "serial/detection_probe.h"
#include "serial/line.h"

using namespace bplink;

namespace {

constexpr int kHidDeviceNumber = 0;
// The part of the device-information reply detection reads: code, an unused
// byte, type, version, flags. A HID link drops the rest with the report.
constexpr DWORD kInfoPrefixLength = hid::kInfoFlagsAt + 1;
// Detection reads the recorder variant unless bit 0 of the flags byte is
// set. The HID session judges the same byte by bit 7 (hid::kFlagsValid), so
// a recorder that sets only one of the two is reported with different
// variants by detection and by a download.
constexpr BYTE kFlagsNoVariant = 0x01;

// The identity-byte tables are the protocol classes' own: one byte means the
// same device everywhere.
struct IdentityTables : CProtocolBase {
  using CProtocolBase::GetDeviceProtocol;
  using CProtocolBase::GetDeviceType;
};

// The object's own devices live for one step of one detection.
template <typename Device>
void MakeOwnDevice(CDevice*& device) {
  delete std::exchange(device, nullptr);
  device = new Device;
}

void DropOwnDevice(CDevice*& device) { delete std::exchange(device, nullptr); }

}  // namespace

CSelectProtocol::CSelectProtocol() {
  m_SupportInfo = {kDeviceNotIdentified, kProtocolNotIdentified, kNotReported, kNotReported, kNotReported};
}

CSelectProtocol::CSelectProtocol(const CSelectProtocol& other) = default;
CSelectProtocol& CSelectProtocol::operator=(const CSelectProtocol& other) = default;

CSelectProtocol::~CSelectProtocol() {
  if (!m_bDeviceFromHost) DropOwnDevice(m_pDevice);
}

bool CSelectProtocol::SetDevice(CDevice* pDevice) {
  if (pDevice == nullptr) return false;
  m_pDevice = pDevice;
  m_bDeviceFromHost = true;
  return true;
}

int CSelectProtocol::OnTestProtocol(tag_SUPPORT_PROTOCOL& out) {
  try {
    m_SupportInfo.nDeviceType = kDeviceNotIdentified;
    m_SupportInfo.nProtocol = kProtocolNotIdentified;
    m_SupportInfo.nReserved = kNotReported;
    m_SupportInfo.nVariant = kNotReported;

    int result = TestHID();
    if (result != kResultOk) {
      result = kResultNoDevice;
      if (!m_bDeviceFromHost) MakeOwnDevice<CDevice_COM>(m_pDevice);

      // Each probe sets the baud rate of its family; the rest of the line is
      // the same for all.
      DCB dcb = SerialLine(0);
      COMPORT_LIST ports;
      EnumerateComPorts(ports, true);
      for (const COMPORT_ENTRY& port : ports) {
        const CString path = ComPortPath(port.strPortName);
        for (const detect::SerialProbe& serial : detect::SerialProbesInOrder()) {
          if (!serial::RunDetectionProbe(*m_pDevice, path, dcb, *serial.probe, m_SupportInfo.nVariant)) continue;
          m_SupportInfo.nDeviceType = serial.family->deviceType;
          m_SupportInfo.nProtocol = serial.family->firstProtocol;
          result = kResultOk;
          break;
        }
        if (result == kResultOk) break;
      }

      if (!m_bDeviceFromHost) DropOwnDevice(m_pDevice);
    }
    out = m_SupportInfo;
    return result;
  } catch (...) {
    // The probe that was running may have left its port open.
    serial::CloseQuietly(m_pDevice);
    if (!m_bDeviceFromHost) DropOwnDevice(m_pDevice);
    return kResultException;
  }
}

int CSelectProtocol::TestHID() {
  if (!m_bDeviceFromHost) MakeOwnDevice<CDevice_HID>(m_pDevice);
  if (m_pDevice->Open(kHidDeviceNumber) == 0) return kResultIoFailed;
  const int result = detect::AskHidIdentity(*m_pDevice, m_SupportInfo);
  m_pDevice->Close();
  if (!m_bDeviceFromHost) DropOwnDevice(m_pDevice);
  return result;
}

int detect::AskHidIdentity(CDevice& device, tag_SUPPORT_PROTOCOL& info) {
  // Neither result is looked at: a device that did not take the request, or
  // did not answer, leaves the zeroed reply, which is no answer.
  hid::ShortFrame request = hid::ShortCommand(hid::kCmdDeviceInfo);
  device.SendData(request.data(), hid::kShortCommandLength);
  std::array<BYTE, kInfoPrefixLength> reply{};
  device.RecvData(reply.data(), kInfoPrefixLength);

  if (reply[0] != hid::kReplyDeviceInfo) return kResultUnexpectedReply;
  const BYTE type = reply[hid::kInfoIdentityAt];
  info.nDeviceType = IdentityTables::GetDeviceType(type);
  info.nProtocol = IdentityTables::GetDeviceProtocol(type);
  info.nVersion = reply[hid::kInfoVersionAt];
  if ((reply[hid::kInfoFlagsAt] & kFlagsNoVariant) == 0 && info.nProtocol == kProtocolHidFirst)
    info.nVariant = hid::IsSingleSetRecorder(type) ? hid::kVariantNoPlan : hid::kVariantWithPlan;
  return kResultOk;
}

int CSelectProtocol::GetDeviceType(BYTE byType) { return IdentityTables::GetDeviceType(byType); }

int CSelectProtocol::GetDeviceProtocol(BYTE byType) {
  return IdentityTables::GetDeviceProtocol(byType);
}
