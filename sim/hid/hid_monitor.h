// A simulated HID blood-pressure monitor, seen from the device's side.
//
// It answers the device-information and handshake commands, streams its
// stored plan and its record stores, deletes records, takes plan uploads in
// their two parts and acknowledges the end of a session. Everything it holds
// is configurable: the identity, version and flags bytes (so one model plays
// every device type), the handshake's capability bytes, the plan block, and
// three record stores in record formats 1, 2 or 3. Faults can be injected per
// exchange and per record.
//
// The monitor is strict about what it is sent: a frame it does not
// understand, or a request with another identity byte, gets no answer and is
// noted in Complaints(), so a test sees a wrong frame even when the host
// would only time out.
#pragma once

#include <bplink/env.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device_model.h"

namespace bplink::sim {

inline constexpr std::size_t kHidPlanLength = 70;
inline constexpr int kHidStores = 3;
using HidPlanBlock = std::array<std::uint8_t, kHidPlanLength>;

// One stored blood-pressure measurement. Seconds are not stored.
struct HidReading {
  CalendarTime time;
  int sys = 0;       // 16 bits on the wire
  int press2 = 0;    // this model keeps the diastolic pressure here
  int press3 = 0;    // and the mean arterial pressure here
  int pulse = 0;
  int status = 0;    // 0 and 3: a usable measurement
  int flags = 0;
  int aux1 = 0;      // format 3 only
  int aux2 = 0;
};

// A store of readings and the record format it is sent in. Format 1 records
// carry minutes from `start`; formats 2 and 3 carry their own time. Any
// other format byte is sent as it stands (a host reads the block as empty).
struct HidRecordStore {
  int format = 2;
  CalendarTime start;
  std::vector<HidReading> readings;
};

// The plan as the monitor keeps it, field by field. 0xFF means "none" in
// the interval and window fields.
struct HidPlan {
  std::string patient1;  // up to 30 bytes
  std::string patient2;  // up to 11 bytes
  CalendarTime clock;
  int day_hour = 7, day_minute = 0, day_interval = 60;
  int night_hour = 22, night_minute = 0, night_interval = 30;
  int extra_start_hour = 0xFF, extra_start_minute = 0xFF, extra_interval = 0xFF;
  int extra_end_hour = 0xFF, extra_end_minute = 0xFF;
  int model = 0xFF;    // byte 59
  int option2 = 1;     // byte 60
  int option1 = 0xFF;  // byte 61
  int option3 = 0;     // bytes 62, 63
  int option4 = 0;     // byte 66
};
HidPlanBlock EncodePlan(const HidPlan& plan);
HidPlan DecodePlan(const HidPlanBlock& block);

// The exchanges a fault can be put on.
enum class HidExchange {
  kDeviceInfo,   // 0x40
  kHandShake,    // 0x42
  kReadPlan,     // 0x43 read, object 1 (its acknowledgement)
  kPlanFrame,    // the plan frame that follows
  kReadRecords,  // 0x43 read, object 2 (its acknowledgement)
  kBlockHeader,  // the header of every block streamed
  kWritePlan,    // 0x43 write, object 1
  kPlanPart1,    // acknowledgement of the first part of an upload
  kPlanPart2,    // acknowledgement of the second part
  kDelete,       // 0x43 delete, object 2
  kEndSession,   // 0x4B
};

enum class HidFault {
  kSilent,          // no reply at all
  kWrongFirstByte,  // the reply's code byte is off by one
  kWrongStatus,     // an acknowledgement that refuses
  kDamaged,         // a packed byte loses bit 7
};

// A fault on one record frame of one store.
struct HidRecordFault {
  int store = 0;  // 0, 1, 2
  int index = 0;  // record number in the block
  bool missing = false;  // not sent at all; otherwise sent with a byte lacking bit 7
};

struct HidMonitorConfig {
  std::uint8_t identity = 0x11;
  std::uint8_t version = 1;
  std::uint8_t flags = 0x00;
  std::uint8_t capability_marker = 0x81;
  std::uint8_t capability_a = 0x00;
  std::uint8_t capability_b = 0x00;
  HidPlanBlock plan{};
  std::array<HidRecordStore, kHidStores> stores;
};

class HidMonitor : public DeviceModel {
 public:
  HidMonitor() = default;
  explicit HidMonitor(HidMonitorConfig config) : config_(std::move(config)) {}

  HidMonitorConfig& Config() { return config_; }
  void SetFault(HidExchange exchange, HidFault fault) { faults_[exchange] = fault; }
  void ClearFaults() { faults_.clear(); record_faults_.clear(); }
  void AddRecordFault(HidRecordFault fault) { record_faults_.push_back(fault); }

  void OnOpen(unsigned baud) override;
  void OnClose() override;
  void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) override;

  // What the host did.
  const std::vector<HidPlanBlock>& Uploads() const { return uploads_; }
  int Deletes() const { return deletes_; }
  int SessionsEnded() const { return sessions_ended_; }
  const std::vector<std::string>& Complaints() const { return complaints_; }

 private:
  void HandleRequest(const std::uint8_t* frame, std::size_t size);
  void HandlePlanPart(const std::uint8_t* data, std::size_t size);
  void SendAck(HidExchange exchange, std::uint8_t code);
  void SendPlan();
  void StreamStore(int store);
  std::vector<std::uint8_t> EncodeRecord(const HidRecordStore& store,
                                         const HidReading& reading) const;
  // The fault set for an exchange, if any.
  bool Has(HidExchange exchange, HidFault fault) const;
  void Complain(std::string what) { complaints_.push_back(std::move(what)); }

  HidMonitorConfig config_;
  std::map<HidExchange, HidFault> faults_;
  std::vector<HidRecordFault> record_faults_;

  enum class Upload { kIdle, kAwaitFirstPart, kAwaitSecondPart };
  Upload upload_ = Upload::kIdle;
  std::vector<std::uint8_t> upload_frame_;

  std::vector<HidPlanBlock> uploads_;
  int deletes_ = 0;
  int sessions_ended_ = 0;
  std::vector<std::string> complaints_;
};

}  // namespace bplink::sim
