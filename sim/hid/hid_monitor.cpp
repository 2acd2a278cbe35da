#include "hid/hid_monitor.h"

#include <algorithm>

#include "hid/minutes.h"
#include "hid/monitor_wire.h"
#include "hid/seven_in_eight.h"

namespace bplink::sim {
namespace {

using namespace hid_wire;

constexpr std::size_t kInfoReplyLength = 7;
constexpr std::size_t kHandShakeReplyLength = 22;
constexpr std::size_t kCapabilityAt = 7;  // marker, then the two capability bytes

// Parameter request: 0x43, identity, operation, data mode, object, 0.
enum RequestAt { kReqIdentity = 1, kReqOperation, kReqMode, kReqObject };
constexpr std::uint8_t kRead = 1, kWrite = 2, kErase = 3;
constexpr std::uint8_t kPlanObject = 1, kRecordsObject = 2, kSpO2Object = 3, kAlarmObject = 6,
                       kIntervalObject = 7;
// The data modes that read the second and the third store, and all three.
constexpr int kModeSecondSet = 3, kModeSecondZone = 5, kModeThirdZone = 6, kModeAllZones = 7;

// A plan upload: 0x44, identity, 80 packed bytes, in a write of 64 and one of 18.
constexpr std::size_t kPlanPackedLength = 80;
constexpr std::size_t kPlanFrameLength = 2 + kPlanPackedLength;
constexpr std::size_t kPlanFirstPart = 64;

constexpr std::size_t kBlockHeaderLength = 10;
constexpr int kMaxCount = 0xFFFF;

int StoreForMode(int mode) {
  if (mode == kModeSecondSet || mode == kModeSecondZone) return 1;
  if (mode == kModeThirdZone) return 2;
  return 0;
}

}  // namespace

// --- the plan block, field by field
HidPlanBlock EncodePlan(const HidPlan& plan) {
  HidPlanBlock b{};
  PutText(plan.patient1, 30, &b[0]);
  PutText(plan.patient2, 11, &b[30]);
  PutTime(plan.clock, &b[41]);
  b[47] = Byte(plan.clock.second);
  b[48] = Byte(plan.day_hour);
  b[49] = Byte(plan.day_minute);
  b[50] = Byte(plan.day_interval);
  b[51] = Byte(plan.night_hour);
  b[52] = Byte(plan.night_minute);
  b[53] = Byte(plan.night_interval);
  b[54] = Byte(plan.extra_start_hour);
  b[55] = Byte(plan.extra_start_minute);
  b[56] = Byte(plan.extra_interval);
  b[57] = Byte(plan.extra_end_hour);
  b[58] = Byte(plan.extra_end_minute);
  b[59] = Byte(plan.model);
  b[60] = Byte(plan.option2);
  b[61] = Byte(plan.option1);
  b[62] = Byte(plan.option3 >> 8);
  b[63] = Byte(plan.option3);
  b[66] = Byte(plan.option4);
  return b;
}

HidPlan DecodePlan(const HidPlanBlock& b) {
  HidPlan plan;
  plan.patient1 = GetText(&b[0], 30);
  plan.patient2 = GetText(&b[30], 11);
  plan.clock = CalendarTime{b[41] << 8 | b[42], b[43], b[44], b[45], b[46], b[47]};
  plan.day_hour = b[48];
  plan.day_minute = b[49];
  plan.day_interval = b[50];
  plan.night_hour = b[51];
  plan.night_minute = b[52];
  plan.night_interval = b[53];
  plan.extra_start_hour = b[54];
  plan.extra_start_minute = b[55];
  plan.extra_interval = b[56];
  plan.extra_end_hour = b[57];
  plan.extra_end_minute = b[58];
  plan.model = b[59];
  plan.option2 = b[60];
  plan.option1 = b[61];
  plan.option3 = b[62] << 8 | b[63];
  plan.option4 = b[66];
  return plan;
}

// --- the link
void HidMonitor::OnOpen(unsigned) { OnClose(); }

// A transfer half done when the link goes is abandoned.
void HidMonitor::OnClose() {
  Outbox().clear();
  upload_ = Upload::kIdle;
  patient_ = Patient::kIdle;
}

bool HidMonitor::Has(HidExchange exchange, HidFault fault) const {
  const auto it = faults_.find(exchange);
  return it != faults_.end() && it->second == fault;
}

int HidMonitor::Served(HidExchange exchange) const {
  const auto it = served_.find(exchange);
  return it != served_.end() ? it->second : 0;
}

void HidMonitor::Receive(const std::uint8_t* data, std::size_t size, unsigned) {
  if (upload_ != Upload::kIdle) {
    HandlePlanPart(data, size);
    return;
  }
  const std::uint8_t code = size > 0 ? data[0] : 0;
  if (code == kInfoCommand && IsCommand(data, size, kPlainMarker)) {
    ++served_[HidExchange::kDeviceInfo];
    if (Has(HidExchange::kDeviceInfo, HidFault::kSilent)) return;
    const bool wrong = Has(HidExchange::kDeviceInfo, HidFault::kWrongFirstByte);
    Send(std::array<std::uint8_t, kInfoReplyLength>{
        Byte(kInfoReply + wrong), 0x00, config_.identity, config_.version, config_.flags, 0x00, 0x00});
  } else if (code == kHandShakeCommand && IsCommand(data, size, kPlainMarker)) {
    ++served_[HidExchange::kHandShake];
    if (Has(HidExchange::kHandShake, HidFault::kSilent)) return;
    std::array<std::uint8_t, kHandShakeReplyLength> reply{};
    reply[0] = Byte(kHandShakeReply + Has(HidExchange::kHandShake, HidFault::kWrongFirstByte));
    reply[kCapabilityAt] = config_.capability_marker;
    reply[kCapabilityAt + 1] = config_.capability_a;
    reply[kCapabilityAt + 2] = config_.capability_b;
    Send(reply);
  } else if (code == kParameterCommand && size == kCommandLength && data[5] == 0) {
    HandleRequest(data, size);
  } else if (code == kEndCommand && size == kCommandLength && data[1] == config_.identity &&
             data[2] == 0x01 && data[3] == 0 && data[4] == 0 && data[5] == 0) {
    ++sessions_ended_;
    SendAck(HidExchange::kEndSession, kEndCommand);
  } else if (code == kAlarmFrame) {
    TakeAlarms(data, size);
  } else if (code == kSwitchRead && IsCommand(data, size, kPlainMarker)) {
    SendSwitch();
  } else if (code == kSwitchWrite) {
    TakeSwitch(data, size);
  } else if (code == kPatientAnnounce && IsCommand(data, size, kPatientMarker)) {
    SendAck(HidExchange::kPatientAnnounce, kPatientAnnounce);
  } else if (code == kPatientRequest) {
    HandlePatientRequest(data, size);
  } else if (code == kPatientPacket) {
    TakePatientPacket(data, size);
  } else if (code == kPatientEnd) {
    TakePatientEnd(data, size);
  } else if (code == kPatientStatus) {
    TakePatientStatus(data, size);
  } else {
    Complain("not understood: " + HexOf(data, size));
  }
}

void HidMonitor::SendAck(HidExchange exchange, std::uint8_t code) {
  ++served_[exchange];
  if (Has(exchange, HidFault::kSilent)) return;
  const bool refuse = Has(exchange, HidFault::kWrongStatus);
  const bool wrong = Has(exchange, HidFault::kWrongFirstByte);
  Send(std::array<std::uint8_t, 4>{Byte(kAckFrame + wrong), code, refuse ? kRefused : kAccepted, 0x00});
}

void HidMonitor::HandleRequest(const std::uint8_t* frame, std::size_t size) {
  if (frame[kReqIdentity] != config_.identity) {
    Complain("request for identity " + HexOf(frame + kReqIdentity, 1) + ": " + HexOf(frame, size));
    return;
  }
  const std::uint8_t operation = frame[kReqOperation];
  const int mode = frame[kReqMode];
  const std::uint8_t object = frame[kReqObject];

  if (operation == kRead && object == kPlanObject) {
    SendAck(HidExchange::kReadPlan, kParameterCommand);
    if (!Has(HidExchange::kReadPlan, HidFault::kSilent)) SendPlan();
  } else if (operation == kRead && object == kRecordsObject) {
    SendAck(HidExchange::kReadRecords, kParameterCommand);
    if (Has(HidExchange::kReadRecords, HidFault::kSilent)) return;
    if (mode == kModeAllZones) {
      for (int store = 0; store < kHidStores; ++store) StreamStore(store);
    } else {
      StreamStore(StoreForMode(mode));
    }
  } else if (operation == kWrite && object == kPlanObject) {
    SendAck(HidExchange::kWritePlan, kParameterCommand);
    upload_ = Upload::kAwaitFirstPart;
    upload_frame_.clear();
  } else if (operation == kErase && object == kRecordsObject) {
    ++deletes_;
    if (mode == kModeAllZones) {
      for (auto& store : config_.stores) store.readings.clear();
    } else {
      config_.stores[StoreForMode(mode)].readings.clear();
    }
    SendAck(HidExchange::kDelete, kParameterCommand);
  } else if (operation == kRead && object == kSpO2Object) {
    SendAck(HidExchange::kReadSpO2, kParameterCommand);
    if (!Has(HidExchange::kReadSpO2, HidFault::kSilent)) StreamSpO2();
  } else if (operation == kRead && object == kAlarmObject) {
    SendAck(HidExchange::kReadAlarms, kParameterCommand);
    if (!Has(HidExchange::kReadAlarms, HidFault::kSilent)) SendAlarms();
  } else if (operation == kRead && object == kIntervalObject) {
    // A monitor without a table refuses the request; that is no complaint.
    if (!config_.intervals) {
      ++served_[HidExchange::kReadIntervals];
      Send(std::array<std::uint8_t, 4>{kAckFrame, kParameterCommand, kRefused, 0x00});
      return;
    }
    SendAck(HidExchange::kReadIntervals, kParameterCommand);
    if (!Has(HidExchange::kReadIntervals, HidFault::kSilent)) SendIntervals();
  } else {
    Send(std::array<std::uint8_t, 4>{kAckFrame, kParameterCommand, kRefused, 0x00});
    Complain("no such object: " + HexOf(frame, size));
  }
}

void HidMonitor::SendPlan() { SendDataFrame(HidExchange::kPlanFrame, kPlanFrame, config_.plan.data(), config_.plan.size()); }

// A data frame: code, identity, packed payload; faults as set for it.
void HidMonitor::SendDataFrame(HidExchange exchange, std::uint8_t code, const std::uint8_t* plain,
                               std::size_t size) {
  if (Has(exchange, HidFault::kSilent)) return;
  std::vector<std::uint8_t> frame{Byte(code + Has(exchange, HidFault::kWrongFirstByte)), config_.identity};
  const auto packed = Pack7in8(plain, size);
  frame.insert(frame.end(), packed.begin(), packed.end());
  if (Has(exchange, HidFault::kDamaged)) frame[frame.size() / 2] &= 0x7F;
  Send(frame);
}


// The upload arrives as two writes; each one is acknowledged. A first part
// with the wrong code or identity is refused, and the upload abandoned.
void HidMonitor::HandlePlanPart(const std::uint8_t* data, std::size_t size) {
  if (upload_ == Upload::kAwaitFirstPart) {
    if (size != kPlanFirstPart || data[0] != kPlanFrame || data[1] != config_.identity) {
      Complain("plan upload, first part: " + HexOf(data, size));
      upload_ = Upload::kIdle;
      Send(std::array<std::uint8_t, 4>{kAckFrame, kPlanFrame, kRefused, 0x00});
      return;
    }
    upload_frame_.assign(data, data + size);
    upload_ = Upload::kAwaitSecondPart;
    SendAck(HidExchange::kPlanPart1, kPlanFrame);
    return;
  }
  upload_ = Upload::kIdle;
  upload_frame_.insert(upload_frame_.end(), data, data + size);
  std::vector<std::uint8_t> plain;
  if (upload_frame_.size() != kPlanFrameLength ||
      !Unpack7in8(upload_frame_.data() + 2, kPlanPackedLength, plain) || plain.size() != kHidPlanLength) {
    Complain("plan upload, second part: " + HexOf(data, size));
    Send(std::array<std::uint8_t, 4>{kAckFrame, kPlanFrame, kRefused, 0x00});
    return;
  }
  if (!Has(HidExchange::kPlanPart2, HidFault::kWrongStatus) &&
      !Has(HidExchange::kPlanPart2, HidFault::kSilent)) {
    std::copy(plain.begin(), plain.end(), config_.plan.begin());
    uploads_.push_back(config_.plan);
  }
  SendAck(HidExchange::kPlanPart2, kPlanFrame);
}

// A block: its header, then every record in its own frame, unprompted.
void HidMonitor::StreamStore(int index) {
  const HidRecordStore& store = config_.stores[index];
  const int count = std::min<int>(static_cast<int>(store.readings.size()), kMaxCount);

  if (Has(HidExchange::kBlockHeader, HidFault::kSilent)) return;
  std::array<std::uint8_t, kBlockHeaderLength> header{};
  header[0] = Byte(count >> 8);
  header[1] = Byte(count);
  header[2] = Byte(store.format);
  if (store.format == 1) PutTime(store.start, &header[3]);
  SendDataFrame(HidExchange::kBlockHeader, kBlockHeaderFrame, header.data(), header.size());

  for (int i = 0; i < count; ++i)
    SendRecord(index, i, EncodeRecord(store, store.readings[static_cast<std::size_t>(i)]));
}

// A record frame, unless a fault loses it or damages one of its bytes.
void HidMonitor::SendRecord(int store, int index, std::vector<std::uint8_t> frame) {
  const auto fault = std::find_if(record_faults_.begin(), record_faults_.end(),
                                  [&](const HidRecordFault& f) { return f.store == store && f.index == index; });
  if (fault != record_faults_.end()) {
    if (fault->missing) return;
    frame[frame.size() / 2] &= 0x7F;
  }
  Send(frame);
}

std::vector<std::uint8_t> HidMonitor::EncodeRecord(const HidRecordStore& store,
                                                   const HidReading& r) const {
  std::vector<std::uint8_t> plain{Byte(r.sys >> 8), Byte(r.sys), Byte(r.press2), Byte(r.pulse),
                                  Byte(r.press3)};
  if (store.format == 1) {
    const std::int64_t offset =
        std::max<std::int64_t>(0, MinuteNumber(r.time) - MinuteNumber(store.start));
    plain.insert(plain.end(), {Byte(static_cast<int>(offset >> 16)), Byte(static_cast<int>(offset >> 8)),
                               Byte(static_cast<int>(offset)), Byte(r.status), Byte(r.flags)});
  } else {
    plain.insert(plain.end(), {Byte(r.time.year - kOwnTimeYearBase), Byte(r.time.month),
                               Byte(r.time.day), Byte(r.time.hour), Byte(r.time.minute),
                               Byte(r.status), Byte(r.flags)});
    if (store.format == 3) {
      plain.insert(plain.end(), {Byte(r.aux1), Byte(r.aux2)});
      plain.resize(20, 0x00);
    }
  }
  return Pack7in8(plain.data(), plain.size());
}

}  // namespace bplink::sim
