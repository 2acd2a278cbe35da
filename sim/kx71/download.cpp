#include "kx71/packets.h"

#include <algorithm>
#include <initializer_list>

namespace bplink::sim {
namespace kx71 {
namespace {

constexpr std::uint8_t kRecordType = 0x07;
constexpr std::uint8_t kGroupType = 0x12;
constexpr std::uint8_t kCountType = 0x16;
constexpr std::uint8_t kMarker1 = 0x08;
constexpr std::uint8_t kMarker2 = 0x09;
constexpr std::uint8_t kBadMarker = 0x0A;
constexpr std::uint8_t kEnd = 0x00;
constexpr std::uint8_t kTopBit = 0x80;
// The recorder's own tag on its groups: the primary one ends in 0xFF.
constexpr std::uint8_t kPrimaryTag = 0xFF;
constexpr std::uint8_t kSecondaryTag = 0x01;
constexpr std::size_t kZeroByteAt = 5;  // a data byte of the first group

constexpr std::size_t kPatient1Length = 30;
constexpr std::size_t kPatient2Length = 11;
constexpr std::size_t kPatient2At = 30;
constexpr std::size_t kClockAt = 41;
constexpr std::size_t kPeriodsAt = 57;

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

}  // namespace

Packet GroupPacket(const Kx71Group& group) {
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

Packet RecordPacket(const Kx71Reading& r, RecordDamage damage) {
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

Packet PlanPacket(const Kx71Plan& plan, std::uint16_t primaryRecords) {
  const Kx71PlanBlock block = EncodeKx71Plan(plan);
  Packet p(1 + block.size());
  p[0] = kPlanPacketType;
  std::copy(block.begin(), block.end(), p.begin() + 1);
  p.push_back(Hi(primaryRecords));
  p.push_back(Lo(primaryRecords));
  return p;
}

}  // namespace kx71

Kx71PlanBlock EncodeKx71Plan(const Kx71Plan& plan) {
  using namespace kx71;
  Kx71PlanBlock b{};
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

Kx71Plan DecodeKx71Plan(const Kx71PlanBlock& b) {
  using namespace kx71;
  auto text = [&b](std::size_t at, std::size_t length) {
    const auto first = b.begin() + static_cast<std::ptrdiff_t>(at);
    const auto last = std::find(first, first + static_cast<std::ptrdiff_t>(length), 0);
    return std::string(first, last);
  };
  Kx71Plan plan;
  plan.patient1 = text(0, kPatient1Length);
  plan.patient2 = text(kPatient2At, kPatient2Length);
  const std::uint8_t* c = b.data() + kClockAt;
  plan.clock = CalendarTime{c[0] * 256 + c[1], c[2], c[3], c[4], c[5], 0};
  const std::uint8_t* p = b.data() + kPeriodsAt;
  plan.day_hour = p[0];
  plan.day_minute = p[1];
  plan.day_interval = p[2];
  plan.night_hour = p[3];
  plan.night_minute = p[4];
  plan.night_interval = p[5];
  return plan;
}

}  // namespace bplink::sim
