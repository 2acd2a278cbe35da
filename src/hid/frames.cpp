// Building and checking HID frames, and the link steps every transfer shares.

#include "hid/frames.h"

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/protocol_new.h>

#include <algorithm>
#include <atomic>

namespace bplink::hid {
namespace {

// FF FE FD FC in packed form: a header carrying four set bit 7s, then the
// four bytes. Devices read it as "no payload".
constexpr std::array<BYTE, 5> kEmptyPayload{0x8F, 0xFF, 0xFE, 0xFD, 0xFC};
constexpr BYTE kEndSessionOperation = 0x01;

}  // namespace

ShortFrame ShortCommand(BYTE code) {
  ShortFrame frame{code};
  std::copy(kEmptyPayload.begin(), kEmptyPayload.end(), frame.begin() + 1);
  return frame;
}

ShortFrame ParameterRequest(BYTE identity, BYTE operation, int dataMode, BYTE object) {
  return {kCmdParameter, identity, operation, static_cast<BYTE>(dataMode & 0xFF), object, 0x00};
}

ShortFrame EndSessionFrame(BYTE identity) {
  return {kCmdEndSession, identity, kEndSessionOperation, 0x00, 0x00, 0x00};
}

bool IsAccepted(const BYTE* reply, BYTE code) {
  return reply[0] == kAck && reply[kAckCodeAt] == code && reply[kAckStatusAt] == kAckAccepted;
}

bool UnpackPayload(const BYTE* packed, DWORD plainLength, BYTE* plain) {
  return UnPackData(packed, PackedLength(plainLength), plain, plainLength) == kPackOk;
}

}  // namespace bplink::hid

using namespace bplink::hid;

BYTE* CProtocol_NEW::NewBuffer(DWORD dwLength) {
  m_pRecvBuffer = std::make_unique<BYTE[]>(dwLength);  // value-initialised: zeroed
  return m_pRecvBuffer.get();
}

void CProtocol_NEW::FreeBuffer() { m_pRecvBuffer.reset(); }

bool CProtocol_NEW::SendFrame(BYTE* pFrame, DWORD dwLength) {
  return m_pDevice->SendData(pFrame, dwLength) != 0;
}

bool CProtocol_NEW::ReceiveFrame(BYTE* pFrame, DWORD dwLength) {
  return m_pDevice->RecvData(pFrame, dwLength) != 0;
}

// The 0x43 request and its acknowledgement. Some objects need a pause before
// the device has its answer ready.
int CProtocol_NEW::RequestParameter(BYTE byOperation, BYTE byObject, unsigned nPauseMs) {
  ShortFrame request = ParameterRequest(m_byIdentity, byOperation, m_nABPM_Type, byObject);
  return SendForAck(request.data(), kRequestLength, nPauseMs, bplink::kResultUnexpectedReply);
}

// A frame the device acknowledges; a refusal answers `nRefused`.
int CProtocol_NEW::SendForAck(BYTE* pFrame, DWORD dwLength, unsigned nPauseMs, int nRefused) {
  if (!SendFrame(pFrame, dwLength)) return bplink::kResultIoFailed;
  if (nPauseMs > 0) bplink::CurrentEnv()->Sleep(nPauseMs);
  std::array<BYTE, kAckLength> ack{};
  if (!ReceiveFrame(ack.data(), kAckLength)) return bplink::kResultIoFailed;
  return IsAccepted(ack.data(), pFrame[0]) ? bplink::kResultOk : nRefused;
}

// A short command and its fixed-length reply, whose first byte names it.
int CProtocol_NEW::CommandWithReply(BYTE byCommand, BYTE* pReply, DWORD dwReplyLength,
                                    BYTE byReplyCode) {
  ShortFrame command = ShortCommand(byCommand);
  if (!SendFrame(command.data(), kShortCommandLength)) return bplink::kResultIoFailed;
  if (!ReceiveFrame(pReply, dwReplyLength)) return bplink::kResultIoFailed;
  return pReply[0] == byReplyCode ? bplink::kResultOk : bplink::kResultUnexpectedReply;
}

// Progress steps that add to what the host variable holds.
void CProtocol_NEW::AddProgress(int nPercent) {
  if (m_pnProgress == nullptr) return;
  SetProgress(std::atomic_ref<int>(*m_pnProgress).load() + nPercent);
}
