// The patient block, seen from the recorder: a transfer request names the
// direction; the block then travels in two numbered packets and an end frame
// carrying its checksum, and the receiving side answers with a status frame.

#include <algorithm>
#include <numeric>

#include "hid/hid_monitor.h"
#include "hid/monitor_wire.h"
#include "hid/seven_in_eight.h"

namespace bplink::sim {
namespace {

using namespace hid_wire;

// Texts and values of the block, in order: 30, 11, 30, 30 bytes, then two
// single bytes.
constexpr std::array<std::size_t, 4> kTextLengths{30, 11, 30, 30};
constexpr std::size_t kValuesAt = 101;

// Transfer request: 0x38, 0x00, then packed: length 103 (32 bits, low byte
// first), 0x04, 0xFF, 0x01, direction.
constexpr std::size_t kRequestFrame = 12;
constexpr std::array<std::uint8_t, 7> kRequestStart{103, 0, 0, 0, 0x04, 0xFF, 0x01};
constexpr std::uint8_t kToMonitor = 0x01;
constexpr std::uint8_t kToHost = 0x02;

// Packets: number, 52 bytes of the block, the sum of those 52 bytes.
constexpr int kPackets = 2;
constexpr std::size_t kPacketPlain = 54;
constexpr std::size_t kPacketFrame = 2 + 62;
constexpr std::size_t kPacketData = 52;
constexpr std::size_t kPacketSumAt = 53;

constexpr std::array<std::uint8_t, 6> kEndStart{kPatientEnd, kPlainMarker, 0xFF, 0xFE, 0xFD, 0xFC};
constexpr std::size_t kEndFrame = 7;
constexpr std::size_t kStatusFrame = 3;
constexpr std::uint8_t kStatusOk = 0x01;
constexpr std::uint8_t kStatusChecksum = 0x11;
constexpr std::uint8_t kStatusSequence = 0x12;
constexpr std::uint8_t kStatusUnknown = 0x05;

std::uint8_t SumOf(const std::uint8_t* from, std::size_t size) {
  return Byte(static_cast<int>(std::accumulate(from, from + size, 0u)));
}

// The part of the block a packet carries: 52 bytes, the second one 51.
std::size_t PacketData(int packet) {
  return std::min(kPacketData, kHidPatientLength - kPacketData * static_cast<std::size_t>(packet));
}

HidExchange PacketExchange(int packet) {
  return packet == 0 ? HidExchange::kPatientPacket0 : HidExchange::kPatientPacket1;
}

}  // namespace

HidPatientBlock EncodePatient(const HidPatient& patient) {
  HidPatientBlock block{};
  const std::string* texts[] = {&patient.text1, &patient.text2, &patient.text3, &patient.text4};
  std::size_t at = 0;
  for (std::size_t i = 0; i < kTextLengths.size(); at += kTextLengths[i++]) PutText(*texts[i], kTextLengths[i], &block[at]);
  block[kValuesAt] = Byte(patient.value5);
  block[kValuesAt + 1] = Byte(patient.value6);
  return block;
}

HidPatient DecodePatient(const HidPatientBlock& block) {
  HidPatient patient;
  std::string* texts[] = {&patient.text1, &patient.text2, &patient.text3, &patient.text4};
  std::size_t at = 0;
  for (std::size_t i = 0; i < kTextLengths.size(); at += kTextLengths[i++]) *texts[i] = GetText(&block[at], kTextLengths[i]);
  patient.value5 = block[kValuesAt];
  patient.value6 = block[kValuesAt + 1];
  return patient;
}

// A lost acknowledgement (kSilent) does not stop the monitor: it goes on
// with the transfer the host asked for.
void HidMonitor::HandlePatientRequest(const std::uint8_t* frame, std::size_t size) {
  std::vector<std::uint8_t> plain;
  if (size != kRequestFrame || frame[1] != 0x00 || !Unpack7in8(frame + 2, size - 2, plain) ||
      plain.size() != kRequestStart.size() + 1 || !std::equal(kRequestStart.begin(), kRequestStart.end(), plain.begin()) ||
      (plain.back() != kToMonitor && plain.back() != kToHost)) {
    Complain("patient transfer request: " + HexOf(frame, size));
    Send(std::array<std::uint8_t, 4>{kAckFrame, kPatientRequest, kRefused, 0x00});
    return;
  }
  SendAck(HidExchange::kPatientRequest, kPatientRequest);
  if (Has(HidExchange::kPatientRequest, HidFault::kWrongStatus) ||
      Has(HidExchange::kPatientRequest, HidFault::kWrongFirstByte))
    return;
  if (plain.back() == kToHost) {
    StreamPatient();
    patient_ = Patient::kAwaitStatus;
  } else {
    patient_ = Patient::kReceiving;
    patient_in_ = {};
    patient_packets_ = 0;
    patient_out_of_order_ = false;
  }
}

void HidMonitor::StreamPatient() {
  const HidPatientBlock& block = config_.patient;
  for (int n = 0; n < kPackets; ++n) {
    std::array<std::uint8_t, kPacketPlain> payload{};
    payload[0] = Byte(Has(PacketExchange(n), HidFault::kWrongSequence) ? 1 - n : n);
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(kPacketData) * n, PacketData(n), payload.begin() + 1);
    payload[kPacketSumAt] = SumOf(&payload[1], kPacketData);
    SendDataFrame(PacketExchange(n), kPatientPacket, payload.data(), payload.size());
  }
  ++served_[HidExchange::kPatientEnd];
  if (Has(HidExchange::kPatientEnd, HidFault::kSilent)) return;
  std::array<std::uint8_t, kEndFrame> end{};
  std::copy(kEndStart.begin(), kEndStart.end(), end.begin());
  end[kEndFrame - 1] = Byte(SumOf(block.data(), block.size()) + Has(HidExchange::kPatientEnd, HidFault::kWrongChecksum));
  Send(end);
}

void HidMonitor::TakePatientStatus(const std::uint8_t* frame, std::size_t size) {
  if (patient_ != Patient::kAwaitStatus || size != kStatusFrame || frame[1] != 0x00) {
    Complain("patient status: " + HexOf(frame, size));
    return;
  }
  patient_ = Patient::kIdle;
  patient_statuses_.push_back(frame[2]);
}

// Packets are taken without an answer; the status frame after the end frame
// judges them all.
void HidMonitor::TakePatientPacket(const std::uint8_t* frame, std::size_t size) {
  std::vector<std::uint8_t> payload;
  if (patient_ != Patient::kReceiving || size != kPacketFrame || frame[1] != config_.identity ||
      !Unpack7in8(frame + 2, size - 2, payload) || payload.size() != kPacketPlain) {
    Complain("patient packet: " + HexOf(frame, size));
    return;
  }
  if (payload[kPacketSumAt] != SumOf(&payload[1], kPacketData))
    Complain("patient packet with a wrong sum: " + HexOf(frame, size));
  const int number = payload[0];
  if (number != patient_packets_++ || number >= kPackets) {
    patient_out_of_order_ = true;
    return;
  }
  std::copy_n(payload.begin() + 1, PacketData(number),
              patient_in_.begin() + static_cast<std::ptrdiff_t>(kPacketData) * number);
}

void HidMonitor::TakePatientEnd(const std::uint8_t* frame, std::size_t size) {
  if (patient_ != Patient::kReceiving || size != kEndFrame || !std::equal(kEndStart.begin(), kEndStart.end(), frame)) {
    Complain("patient end frame: " + HexOf(frame, size));
    return;
  }
  patient_ = Patient::kIdle;
  std::uint8_t status = kStatusOk;
  if (patient_out_of_order_ || patient_packets_ != kPackets) {
    status = kStatusSequence;
  } else if (frame[kEndFrame - 1] != SumOf(patient_in_.data(), patient_in_.size())) {
    status = kStatusChecksum;
  }
  if (Has(HidExchange::kPatientEnd, HidFault::kWrongChecksum)) status = kStatusChecksum;
  if (Has(HidExchange::kPatientEnd, HidFault::kWrongSequence)) status = kStatusSequence;
  if (Has(HidExchange::kPatientEnd, HidFault::kWrongStatus)) status = kStatusUnknown;

  ++served_[HidExchange::kPatientEnd];
  if (status == kStatusOk) {
    config_.patient = patient_in_;
    patient_uploads_.push_back(patient_in_);
  }
  if (Has(HidExchange::kPatientEnd, HidFault::kSilent)) return;  // the verdict is lost
  const bool wrong = Has(HidExchange::kPatientEnd, HidFault::kWrongFirstByte);
  Send(std::array<std::uint8_t, kStatusFrame>{Byte(kPatientStatus + wrong), 0x00, status});
}

}  // namespace bplink::sim
