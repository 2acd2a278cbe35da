// The five serial probes: one fixed request and one fixed answer per family,
// asked on a port opened at the family's probe speed.
//
// Each probe opens the port, sends its request, gives the device its pause,
// reads the answer into a zeroed buffer and judges it; then, whatever came,
// it drains the line (what ClearCommData does) and closes the port, so the
// next probe starts on a quiet line even when a device of another family
// answered at length.

#include <bplink/select_protocol.h>

#include <bplink/device.h>
#include <bplink/env.h>

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

constexpr int kPortOpened = 1;
// How long a device is given to answer a probe before its answer is read.
constexpr unsigned kAnswerPauseMs = 100;
// A device that never stops sending must not hold detection for ever; no
// answer to a probe comes near this many bytes.
constexpr std::size_t kMaxDrainBytes = 4096;

// KX71 recorder: the handshake frame, with one trailing zero. It answers with
// a code naming its kind, then the frame's tail echoed.
constexpr std::array<BYTE, 7> kKX71Request{0x01, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC, 0x00};
constexpr std::array<BYTE, 5> kKX71EchoedTail{0x8F, 0xFF, 0xFE, 0xFD, 0xFC};
constexpr DWORD kKX71ReplyLength = 1 + kKX71EchoedTail.size();
constexpr BYTE kKX71NoPlan = 0x15;     // variant 1
constexpr BYTE kKX71Standard = 0x02;   // variant 2
constexpr BYTE kKX71KeepsPlan = 0x34;  // variant 2
constexpr int kKX71VariantNoPlan = 1;
constexpr int kKX71VariantOther = 2;

// KV32 monitor: its handshake byte, echoed.
constexpr BYTE kKV32Handshake = 0x51;  // 'Q'

// VESTRA16 and VESTRA16C monitors take the same settings request. A VESTRA16C
// answers with one byte of its own; a VESTRA16 echoes the request and sends
// its 72-byte settings block after it.
constexpr BYTE kSettingsRequest = 0x88;
constexpr BYTE kVestra16CAnswer = 0x6C;
constexpr DWORD kVestra16ReplyLength = 1 + 72;

// VESTRA18 monitor: the request echoed, then its answer byte.
constexpr BYTE kVestra18Request = 0x14;
constexpr BYTE kVestra18Answer = 0x11;

// Sends the request, waits the device's pause and receives the reply.
// False when the request did not go out or the reply did not come whole.
bool Ask(CDevice& device, const BYTE* request, DWORD requestLength, BYTE* reply,
         DWORD replyLength) {
  // The transports never write to what they send.
  if (device.SendData(const_cast<BYTE*>(request), requestLength) == 0) return false;
  bplink::CurrentEnv()->Sleep(kAnswerPauseMs);
  return device.RecvData(reply, replyLength) != 0;
}

bool AskByte(CDevice& device, BYTE request, BYTE& reply) {
  return Ask(device, &request, 1, &reply, 1);
}

void DrainLine(CDevice& device) {
  BYTE dropped = 0;
  for (std::size_t n = 0; n < kMaxDrainBytes && device.RecvData(&dropped, 1) != 0; ++n) {
  }
}

// One probe on one port: `exchange` asks and judges on the port opened at
// the DCB's speed; then the line is drained and closed, whatever came.
template <typename Exchange>
bool ProbePort(CDevice& device, const CString& path, const DCB& dcb, Exchange exchange) {
  if (device.Open(path, dcb) != kPortOpened) return false;
  const bool found = exchange(device);
  DrainLine(device);
  device.Close();
  return found;
}

}  // namespace

bool CSelectProtocol::TestKX71(CString strPath, DCB& dcb) {
  std::array<BYTE, kKX71ReplyLength> reply{};
  const bool answered = ProbePort(*m_pDevice, strPath, dcb, [&reply](CDevice& device) {
    return Ask(device, kKX71Request.data(), kKX71Request.size(), reply.data(), kKX71ReplyLength);
  });
  const BYTE kind = reply[0];
  if (!answered || !std::equal(kKX71EchoedTail.begin(), kKX71EchoedTail.end(), reply.begin() + 1))
    return false;
  if (kind != kKX71NoPlan && kind != kKX71Standard && kind != kKX71KeepsPlan) return false;
  m_SupportInfo.nVariant = kind == kKX71NoPlan ? kKX71VariantNoPlan : kKX71VariantOther;
  return true;
}

bool CSelectProtocol::TestKV32(CString strPath, DCB& dcb) {
  return ProbePort(*m_pDevice, strPath, dcb, [](CDevice& device) {
    BYTE reply = 0;
    return AskByte(device, kKV32Handshake, reply) && reply == kKV32Handshake;
  });
}

// A VESTRA16 monitor answers this request too, with its echo; the drain
// takes the settings block that follows.
bool CSelectProtocol::Test16C(CString strPath, DCB& dcb) {
  return ProbePort(*m_pDevice, strPath, dcb, [](CDevice& device) {
    BYTE reply = 0;
    return AskByte(device, kSettingsRequest, reply) && reply == kVestra16CAnswer;
  });
}

// Only the echo is judged; the settings block is read with it and dropped.
bool CSelectProtocol::Test16(CString strPath, DCB& dcb) {
  return ProbePort(*m_pDevice, strPath, dcb, [](CDevice& device) {
    const BYTE request = kSettingsRequest;
    std::array<BYTE, kVestra16ReplyLength> reply{};
    return Ask(device, &request, 1, reply.data(), kVestra16ReplyLength) &&
           reply[0] == kSettingsRequest;
  });
}

bool CSelectProtocol::Test18(CString strPath, DCB& dcb) {
  return ProbePort(*m_pDevice, strPath, dcb, [](CDevice& device) {
    BYTE echo = 0;
    BYTE answer = 0;
    return AskByte(device, kVestra18Request, echo) && echo == kVestra18Request &&
           device.RecvData(&answer, 1) != 0 && answer == kVestra18Answer;
  });
}

bool CSelectProtocol::ClearCommData() {
  DrainLine(*m_pDevice);
  return true;
}
