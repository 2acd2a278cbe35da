// The patient block of the newer ambulatory recorders: four texts and two
// small numbers, 103 bytes. It has a small transfer protocol of its own: an
// announcement, a transfer request naming the length and the direction, two
// numbered packets, and an end frame with the block's checksum that the
// receiving side answers with a status frame.
//
// These two transfers are the only ones that print: the announcement and the
// device's verdict on an upload go to the console sink (standard output
// unless the host installed another), in the console encoding of the
// devices' home market (GBK), byte for byte as hosts expect.

#include <bplink/console.h>
#include <bplink/protocol_new.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <numeric>
#include <string_view>

#include "hid/frames.h"

using namespace bplink::hid;
using bplink::kResultOk;

namespace {

constexpr DWORD kPatientLength = 103;
using PatientBlock = std::array<BYTE, kPatientLength>;

// Where the plan record's patient fields sit in the block.
constexpr DWORD kText1At = 0, kText1Length = 30;
constexpr DWORD kText2At = 30, kText2Length = 11;
constexpr DWORD kText3At = 41, kText3Length = 30;
constexpr DWORD kText4At = 71, kText4Length = 30;
constexpr DWORD kValue5At = 101;
constexpr DWORD kValue6At = 102;

// The announcement is the short command in its patient-information variant.
constexpr BYTE kPatientVariant = 0x9F;

// Transfer request: 0x38, 0x00, then packed: the block length (32 bits,
// little-endian), three fixed bytes, and the direction.
constexpr BYTE kRequestSecondByte = 0x00;
constexpr DWORD kRequestPlainLength = 8;
constexpr DWORD kRequestFrameLength = DataFrameLength(kRequestPlainLength);  // 12
constexpr DWORD kRequestDirectionAt = 7;
constexpr std::array<BYTE, kRequestPlainLength> kRequestTemplate{kPatientLength, 0x00, 0x00, 0x00,
                                                                0x04, 0xFF, 0x01, 0x00};
constexpr BYTE kDirectionToDevice = 0x01;
constexpr BYTE kDirectionToPC = 0x02;

// A packet: its number, up to 52 bytes of the block, and (on upload) the sum
// of those 52 bytes. Packet 0 carries b0..b51, packet 1 b52..b102.
constexpr int kPackets = 2;
constexpr DWORD kPacketPlainLength = 54;
constexpr DWORD kPacketFrameLength = DataFrameLength(kPacketPlainLength);  // 64
constexpr DWORD kPacketNumberAt = 0;
constexpr DWORD kPacketDataAt = 1;
constexpr DWORD kPacketDataLength = 52;
constexpr DWORD kPacketSumAt = 53;

// End frame: 0x3F, the empty payload, the checksum. Status frame: 0x3B, 0x00,
// the verdict.
constexpr std::array<BYTE, 6> kEndFrameStart{kFramePatientEnd, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC};
constexpr DWORD kEndFrameLength = 7;
constexpr DWORD kEndChecksumAt = 6;
constexpr DWORD kStatusFrameLength = 3;
constexpr BYTE kStatusSecondByte = 0x00;
constexpr DWORD kStatusAt = 2;
constexpr BYTE kStatusAccepted = 0x01;
constexpr BYTE kStatusChecksumError = 0x11;
constexpr BYTE kStatusSequenceError = 0x12;

// The verdicts, in GBK, each ending the line with CR LF.
constexpr char kSentOk[] = "\xB7\xA2\xCB\xCD\xB3\xC9\xB9\xA6.";             // "sent successfully."
constexpr char kChecksumAbnormal[] = "\xD0\xA3\xD1\xE9\xBA\xCD\xD2\xEC\xB3\xA3";  // "checksum abnormal"
constexpr char kSequenceAbnormal[] = "\xB0\xFC\xD0\xF2\xBA\xC5\xD2\xEC\xB3\xA3";  // "packet number abnormal"
constexpr char kLineEnd[] = "\r\n";

void ConsoleLine(const char* text) { bplink::CurrentConsole()->Line(text); }

// Two code bytes as the console shows an exchange: "0X37, 0X9F".
void ConsoleCodes(BYTE first, BYTE second) {
  char line[sizeof "0XFF, 0XFF"];
  std::snprintf(line, sizeof line, "0X%02X, 0X%02X", first, second);
  ConsoleLine(line);
}

BYTE Sum(const BYTE* from, DWORD length) {
  return static_cast<BYTE>(std::accumulate(from, from + length, 0u) & 0xFF);
}

DWORD PacketDataLength(int packet) {
  return std::min(kPacketDataLength, kPatientLength - kPacketDataLength * packet);
}

template <std::size_t N>
void TextToBlock(const char (&text)[N], DWORD at, DWORD length, PatientBlock& block) {
  static_assert(N > 0);
  std::copy_n(text, std::min<DWORD>(length, N), block.begin() + at);
}

template <std::size_t N>
void TextFromBlock(const PatientBlock& block, DWORD at, DWORD length, char (&text)[N]) {
  static_assert(N > 0);
  const DWORD n = std::min<DWORD>(length, N - 1);
  std::copy_n(block.begin() + at, n, text);
  text[n] = '\0';
}

PatientBlock BlockFromPlan(const _BP_TRANSPORT_INFO& plan) {
  PatientBlock block{};
  TextToBlock(plan.szPatientInfo1, kText1At, kText1Length, block);
  TextToBlock(plan.szPatientInfo2, kText2At, kText2Length, block);
  TextToBlock(plan.szPatientInfo3, kText3At, kText3Length, block);
  TextToBlock(plan.szPatientInfo4, kText4At, kText4Length, block);
  block[kValue5At] = static_cast<BYTE>(plan.nPatientInfo5 & 0xFF);
  block[kValue6At] = static_cast<BYTE>(plan.nPatientInfo6 & 0xFF);
  return block;
}

void BlockToPlan(const PatientBlock& block, _BP_TRANSPORT_INFO& plan) {
  TextFromBlock(block, kText1At, kText1Length, plan.szPatientInfo1);
  TextFromBlock(block, kText2At, kText2Length, plan.szPatientInfo2);
  TextFromBlock(block, kText3At, kText3Length, plan.szPatientInfo3);
  TextFromBlock(block, kText4At, kText4Length, plan.szPatientInfo4);
  plan.nPatientInfo5 = block[kValue5At];
  plan.nPatientInfo6 = block[kValue6At];
}

// Standard output, each line ended as the hosts' consoles expect.
class StandardOutput : public bplink::ConsoleSink {
 public:
  void Line(std::string_view bytes) override {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputs(kLineEnd, stdout);
    std::fflush(stdout);
  }
};

std::atomic<bplink::ConsoleSink*> g_console{nullptr};

}  // namespace

namespace bplink {

ConsoleSink::~ConsoleSink() = default;

ConsoleSink* ConsoleSink::Default() {
  static StandardOutput console;
  return &console;
}

ConsoleSink* CurrentConsole() {
  ConsoleSink* sink = g_console.load(std::memory_order_acquire);
  return sink != nullptr ? sink : ConsoleSink::Default();
}

void SetConsole(ConsoleSink* sink) { g_console.store(sink, std::memory_order_release); }

}  // namespace bplink

// Whether the device acknowledges the announcement changes nothing; it is
// only shown on the console.
void CProtocol_NEW::AnnouncePatientTransfer() {
  ShortFrame announcement = ShortCommand(kCmdPatientAnnounce);
  announcement[1] = kPatientVariant;
  if (!SendFrame(announcement.data(), kShortCommandLength)) return;
  ConsoleCodes(announcement[0], announcement[1]);
  std::array<BYTE, kAckLength> ack{};
  if (ReceiveFrame(ack.data(), kAckLength) && IsAccepted(ack.data(), kCmdPatientAnnounce))
    ConsoleCodes(kAck, kCmdPatientAnnounce);
}

// 1 when the device accepts the transfer, 7 when it answers anything else,
// 5 when it does not answer (not fatal: the transfer goes on).
int CProtocol_NEW::RequestPatientTransfer(BYTE byDirection) {
  std::array<BYTE, kRequestFrameLength> frame{kCmdPatientRequest, kRequestSecondByte};
  std::array<BYTE, kRequestPlainLength> plain = kRequestTemplate;
  plain[kRequestDirectionAt] = byDirection;
  if (PackData(plain.data(), kRequestPlainLength, frame.data() + kDataFrameCodeBytes) != kPackOk)
    return bplink::kResultIoFailed;
  std::array<BYTE, kAckLength> ack{};
  if (!SendFrame(frame.data(), kRequestFrameLength) || !ReceiveFrame(ack.data(), kAckLength))
    return bplink::kResultIoFailed;
  return IsAccepted(ack.data(), kCmdPatientRequest) ? kResultOk : bplink::kResultUnexpectedReply;
}

void CProtocol_NEW::SendPatientStatus(BYTE byStatus) {
  std::array<BYTE, kStatusFrameLength> frame{kFramePatientStatus, kStatusSecondByte, byStatus};
  SendFrame(frame.data(), kStatusFrameLength);
}

// A damaged packet leaves its part of the block zero and fails the result,
// but the block is still taken when the device's checksum matches it. A
// packet out of sequence ends the packets and is reported to the device.
int CProtocol_NEW::DownloadPatientInfo() {
  try {
    PatientBlock block{};
    AnnouncePatientTransfer();
    int r = RequestPatientTransfer(kDirectionToPC);
    if (r == bplink::kResultUnexpectedReply) return r;

    bool outOfSequence = false;
    for (int n = 0; n < kPackets; ++n) {
      BYTE* frame = NewBuffer(kPacketFrameLength);
      if (!ReceiveFrame(frame, kPacketFrameLength)) {
        r = bplink::kResultUnexpectedReply;
        break;
      }
      std::array<BYTE, kPacketPlainLength> payload{};
      if (frame[0] != kFramePatientPacket || frame[1] != m_byIdentity ||
          !UnpackPayload(frame + kDataFrameCodeBytes, kPacketPlainLength, payload.data())) {
        r = bplink::kResultUnexpectedReply;
        continue;
      }
      std::copy_n(payload.begin() + kPacketDataAt, PacketDataLength(n),
                  block.begin() + kPacketDataLength * n);
      if (payload[kPacketNumberAt] != n) {
        outOfSequence = true;
        break;
      }
    }

    // Only the checksum of the device's end frame is read.
    BYTE* end = NewBuffer(kEndFrameLength);
    if (!ReceiveFrame(end, kEndFrameLength)) {
      FreeBuffer();
      return bplink::kResultUnexpectedReply;
    }
    const bool sumMatches = end[kEndChecksumAt] == Sum(block.data(), kPatientLength);
    FreeBuffer();
    if (!sumMatches) {
      SendPatientStatus(kStatusChecksumError);
      return bplink::kResultUnexpectedReply;
    }
    if (outOfSequence) {
      SendPatientStatus(kStatusSequenceError);
      return bplink::kResultUnexpectedReply;
    }
    SendPatientStatus(kStatusAccepted);
    BlockToPlan(block, m_UploadNeeded.Info);
    return r;
  } catch (...) {
    FreeBuffer();
    return bplink::kResultException;
  }
}

// Packets are not acknowledged one by one: the device judges the whole
// transfer in its status frame. A device that never answers the end frame
// leaves the result of the packets.
int CProtocol_NEW::UploadPatientInfo() {
  try {
    const PatientBlock block = BlockFromPlan(m_UploadNeeded.Info);
    AnnouncePatientTransfer();
    int r = RequestPatientTransfer(kDirectionToDevice);
    if (r == bplink::kResultUnexpectedReply) return r;

    for (int n = 0; n < kPackets; ++n) {
      std::array<BYTE, kPacketPlainLength> payload{};
      payload[kPacketNumberAt] = static_cast<BYTE>(n);
      std::copy_n(block.begin() + kPacketDataLength * n, PacketDataLength(n),
                  payload.begin() + kPacketDataAt);
      payload[kPacketSumAt] = Sum(payload.data() + kPacketDataAt, kPacketDataLength);
      BYTE* frame = NewBuffer(kPacketFrameLength);
      frame[0] = kFramePatientPacket;
      frame[1] = m_byIdentity;
      if (PackData(payload.data(), kPacketPlainLength, frame + kDataFrameCodeBytes) != kPackOk) {
        r = bplink::kResultIoFailed;
        break;
      }
      if (!SendFrame(frame, kPacketFrameLength)) {
        r = bplink::kResultUnexpectedReply;
        break;
      }
      r = kResultOk;
    }
    FreeBuffer();

    std::array<BYTE, kEndFrameLength> end{};
    std::copy(kEndFrameStart.begin(), kEndFrameStart.end(), end.begin());
    end[kEndChecksumAt] = Sum(block.data(), kPatientLength);
    if (!SendFrame(end.data(), kEndFrameLength)) return r;
    std::array<BYTE, kStatusFrameLength> status{};
    if (!ReceiveFrame(status.data(), kStatusFrameLength) || status[0] != kFramePatientStatus ||
        status[1] != kStatusSecondByte)
      return r;
    switch (status[kStatusAt]) {
      case kStatusAccepted:
        ConsoleLine(kSentOk);
        return kResultOk;
      case kStatusChecksumError:
        ConsoleLine(kChecksumAbnormal);
        return bplink::kResultUnexpectedReply;
      case kStatusSequenceError:
        ConsoleLine(kSequenceAbnormal);
        return bplink::kResultUnexpectedReply;
      default:
        return r;
    }
  } catch (...) {
    FreeBuffer();
    return bplink::kResultException;
  }
}
