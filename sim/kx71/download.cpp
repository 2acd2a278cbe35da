// How the KX71 recorder serves what it stored: after its greeting answer, a
// stream of packets (the plan when it keeps one and is asked to, then for
// each group a group header, a record count and its records), each sent when
// the previous one was acknowledged, and its plan on request.
#include <algorithm>
#include <initializer_list>

#include "kx71/model.h"

namespace bplink::sim::kx71 {
namespace {

using Packet = std::vector<std::uint8_t>;

// A record sent damaged the first time, when a fault says so.
enum class RecordDamage { kNone, kZeroByte, kWrongMarker };
constexpr std::uint8_t kBadMarker = 0x0A;
constexpr std::size_t kZeroByteAt = 5;  // a data byte of the first group

std::uint8_t Hi(int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }
std::uint8_t Lo(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

// A mask byte, then the data bytes. A byte whose top bit is clear goes with
// it set and its mask bit clear, so no byte on the line is ever zero; the
// mask's own top bit keeps the mask non-zero.
void PutMasked(Packet& out, std::initializer_list<std::uint8_t> data) {
  std::uint8_t mask = kTopBit;
  std::size_t bit = 0;
  for (std::uint8_t byte : data) {
    if ((byte & kTopBit) != 0) mask = static_cast<std::uint8_t>(mask | (1u << bit));
    ++bit;
  }
  out.push_back(mask);
  for (std::uint8_t byte : data) out.push_back(static_cast<std::uint8_t>(byte | kTopBit));
}

Packet GroupPacket(const Group& group) {
  const CalendarTime& t = group.start;
  Packet p{kGroupType};
  PutMasked(p, {Hi(t.year), Lo(t.year), Lo(t.month), Lo(t.day), Lo(t.hour),
                group.primary ? kPrimaryTag : kSecondaryTag});
  return p;
}

Packet CountPacket(std::uint32_t count) {
  Packet p{kCountType};
  PutMasked(p, {Lo(static_cast<int>(count >> 24)), Lo(static_cast<int>(count >> 16)),
                Lo(static_cast<int>(count >> 8)), Lo(static_cast<int>(count))});
  return p;
}

Packet RecordPacket(const Reading& r, RecordDamage damage) {
  const CalendarTime& t = r.time;
  Packet p{kRecordType};
  PutMasked(p, {Hi(t.year), Lo(t.year), Lo(t.month), Lo(t.day), Lo(t.hour), Lo(t.minute)});
  p.push_back(kMarker1);
  PutMasked(p, {Hi(r.sys), Lo(r.sys), Hi(r.map), Lo(r.map), Hi(r.dia), Lo(r.dia)});
  p.push_back(damage == RecordDamage::kWrongMarker ? kBadMarker : kMarker2);
  PutMasked(p, {Hi(r.pulse), Lo(r.pulse), Lo(r.status)});
  p.push_back(kEnd);
  if (damage == RecordDamage::kZeroByte) p[kZeroByteAt] = 0;
  return p;
}

// The plan with the number of records of the primary group behind it.
Packet PlanPacket(const Plan& plan, std::uint16_t primaryRecords) {
  const PlanBlock block = EncodePlan(plan);
  Packet p(1 + block.size());
  p[0] = kPlanPacketType;
  std::copy(block.begin(), block.end(), p.begin() + 1);
  p.push_back(Hi(primaryRecords));
  p.push_back(Lo(primaryRecords));
  return p;
}

const AckCodes* CodesFor(std::uint8_t type) {
  for (const AckCodes& c : kAckCodes)
    if (c.type == type) return &c;
  return nullptr;
}

}  // namespace

PlanBlock EncodePlan(const Plan& plan) {
  PlanBlock b{};
  std::copy_n(plan.patient1.begin(), std::min(plan.patient1.size(), kPatient1Length), b.begin());
  std::copy_n(plan.patient2.begin(), std::min(plan.patient2.size(), kPatient2Length),
              b.begin() + kPatient2At);
  const CalendarTime& c = plan.clock;
  const std::uint8_t clock[] = {Hi(c.year), Lo(c.year), Lo(c.month), Lo(c.day), Lo(c.hour), Lo(c.minute)};
  std::copy(std::begin(clock), std::end(clock), b.begin() + kClockAt);
  const std::uint8_t periods[] = {Lo(plan.day_hour),   Lo(plan.day_minute),   Lo(plan.day_interval),
                                  Lo(plan.night_hour), Lo(plan.night_minute), Lo(plan.night_interval)};
  std::copy(std::begin(periods), std::end(periods), b.begin() + kPeriodsAt);
  return b;
}

// Everything stored, in the order it goes out; the first packet goes at once.
void Recorder::StartStream() {
  stream_.clear();
  int record = 0;
  std::uint16_t primaryRecords = 0;
  for (const Group& g : config_.groups)
    if (g.primary) primaryRecords = static_cast<std::uint16_t>(primaryRecords + g.readings.size());
  if (config_.plan_in_stream && config_.reply_code == kKeepsPlan)
    stream_.push_back({PlanPacket(config_.plan, primaryRecords), {}});
  for (const Group& g : config_.groups) {
    stream_.push_back({GroupPacket(g), {}});
    stream_.push_back({CountPacket(static_cast<std::uint32_t>(g.readings.size())), {}});
    for (const Reading& r : g.readings) {
      StreamPacket p{RecordPacket(r, RecordDamage::kNone), {}};
      if (record == config_.faults.zero_byte_record)
        p.first_time = RecordPacket(r, RecordDamage::kZeroByte);
      else if (record == config_.faults.wrong_marker_record)
        p.first_time = RecordPacket(r, RecordDamage::kWrongMarker);
      stream_.push_back(std::move(p));
      ++record;
    }
  }
  primary_records_ = primaryRecords;
  next_packet_ = 0;
  resends_ = 0;
  mode_ = Mode::kStreaming;
  if (!config_.faults.silent_stream) SendPacket(true);
}

// Sends the packet due; the plan packet wants no answer, so the next one
// follows it at once. After the last packet the recorder falls silent.
void Recorder::SendPacket(bool first_time) {
  while (next_packet_ < stream_.size()) {
    const StreamPacket& p = stream_[next_packet_];
    Send(first_time && !p.first_time.empty() ? p.first_time : p.bytes);
    if (p.bytes[0] != kPlanPacketType) return;
    ++next_packet_;
    first_time = true;
  }
  mode_ = Mode::kIdle;
}

void Recorder::OnAcknowledgement(std::uint8_t code) {
  if (mode_ != Mode::kStreaming || next_packet_ >= stream_.size()) {
    complaints_.push_back("acknowledgement " + Hex(code) + " with no packet sent");
    return;
  }
  const AckCodes* expected = CodesFor(stream_[next_packet_].bytes[0]);
  if (expected == nullptr || (code != expected->ok && code != expected->bad)) {
    complaints_.push_back("acknowledgement " + Hex(code) + " for packet type " +
                          Hex(stream_[next_packet_].bytes[0]));
    return;
  }
  if (code == expected->ok) {
    ++positive_acks_;
  } else {
    ++negative_acks_;
    if (resends_ < kResends) {
      ++resends_;
      SendPacket(false);
      return;
    }
  }
  // Taken, or given up on after the resends.
  ++next_packet_;
  resends_ = 0;
  SendPacket(true);
}

void Recorder::SendPlan() {
  ++plan_requests_;
  mode_ = Mode::kIdle;
  stream_.clear();
  if (config_.reply_code != kKeepsPlan) {
    complaints_.push_back("asked for a plan it does not keep");
    return;
  }
  Send(PlanPacket(config_.plan, primary_records_));
}

}  // namespace bplink::sim::kx71
