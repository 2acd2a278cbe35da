// A simulated HID blood-pressure monitor, seen from the device's side.
//
// It answers the device-information and handshake commands, streams its
// stored plan, its record stores and its SpO2 samples, deletes records, takes
// plan uploads in their two parts and acknowledges the end of a session. It
// keeps alarm limits and an alarm switch value, an interval table (or none),
// and a patient block that travels in numbered packets with a checksum, both
// ways. Everything it holds is configurable: the identity, version and flags
// bytes (so one model plays every device type), the handshake's capability
// bytes, the plan block, three record stores in record formats 1, 2 or 3,
// SpO2 samples in formats 1 or 2, and the layout of its alarm block. Faults
// can be injected per exchange and per record.
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
#include <optional>
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

// SpO2 samples and the format they are sent in. Format 1 samples carry their
// position in seconds after `start` (24 bits); format 2 samples their own
// time, to the second. Any other format byte is sent as it stands.
struct HidSpO2Sample {
  CalendarTime time;
  int spo2 = 0;
  int pulse = 0;
};
struct HidSpO2Store {
  int format = 2;
  CalendarTime start;
  std::vector<HidSpO2Sample> samples;
};

// Alarm limits of one period: its switch and six limits. The short block
// carries the first four limits only, the third and fourth in one byte each.
struct HidAlarmGroup {
  int on = 0;
  std::array<int, 6> limits{};
};
struct HidAlarms {
  HidAlarmGroup day, night;
};
enum class HidAlarmLayout {
  kLong,   // 28 bytes; uploads name the device
  kShort,  // 14 bytes; uploads carry no identity byte
};

// The patient block: four texts (30, 11, 30 and 30 bytes) and two values.
inline constexpr std::size_t kHidPatientLength = 103;
using HidPatientBlock = std::array<std::uint8_t, kHidPatientLength>;
struct HidPatient {
  std::string text1, text2, text3, text4;
  int value5 = 0, value6 = 0;
};
HidPatientBlock EncodePatient(const HidPatient& patient);
HidPatient DecodePatient(const HidPatientBlock& block);

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
  kReadSpO2,     // 0x43 read, object 3 (its acknowledgement)
  kSpO2Header,   // the header of the SpO2 samples
  kReadAlarms,   // 0x43 read, object 6 (its acknowledgement)
  kAlarmFrame,   // the alarm block that follows
  kWriteAlarms,  // acknowledgement of an alarm block sent by the host
  kReadSwitch,   // 0x61, the alarm switch value
  kWriteSwitch,  // acknowledgement of 0x60
  kReadIntervals,  // 0x43 read, object 7 (its acknowledgement)
  kIntervalFrame,  // the interval table that follows
  kPatientAnnounce,  // acknowledgement of 0x37
  // Acknowledgement of 0x38. Silent, the monitor still goes on with the
  // transfer: the acknowledgement was lost, not the request.
  kPatientRequest,
  kPatientPacket0,   // packets sent by the monitor
  kPatientPacket1,
  // Sent by the monitor, the end frame of a download; the status frame that
  // answers the end of an upload.
  kPatientEnd,
};

enum class HidFault {
  kSilent,          // no reply at all
  kWrongFirstByte,  // the reply's code byte is off by one
  kWrongStatus,     // an acknowledgement that refuses
  kDamaged,         // a packed byte loses bit 7
  kWrongChecksum,   // a patient end frame with a wrong sum; on upload: status 0x11
  kWrongSequence,   // a patient packet with the other number; on upload: status 0x12
};

// A fault on one record frame of one store.
inline constexpr int kHidSpO2Store = kHidStores;  // the SpO2 samples
struct HidRecordFault {
  int store = 0;  // 0, 1, 2, or kHidSpO2Store
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
  HidSpO2Store spo2;
  HidAlarmLayout alarm_layout = HidAlarmLayout::kLong;
  HidAlarms alarms;
  int warn_switch = 0;
  HidPatientBlock patient{};
  // Intervals in minutes; a monitor without a table refuses the request.
  std::optional<std::vector<int>> intervals;
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
  // How often the monitor answered the request of this exchange.
  int Served(HidExchange exchange) const;
  // Patient blocks the monitor accepted, and the status frames the host sent
  // back after a patient block went to it.
  const std::vector<HidPatientBlock>& PatientUploads() const { return patient_uploads_; }
  const std::vector<int>& PatientStatuses() const { return patient_statuses_; }
  const std::vector<std::string>& Complaints() const { return complaints_; }

 private:
  void HandleRequest(const std::uint8_t* frame, std::size_t size);
  void HandlePlanPart(const std::uint8_t* data, std::size_t size);
  void SendAck(HidExchange exchange, std::uint8_t code);
  void SendDataFrame(HidExchange exchange, std::uint8_t code, const std::uint8_t* plain, std::size_t size);
  // SpO2, alarm settings and intervals, patient block.
  void StreamSpO2();
  void SendAlarms();
  void TakeAlarms(const std::uint8_t* frame, std::size_t size);
  void SendSwitch();
  void TakeSwitch(const std::uint8_t* frame, std::size_t size);
  void SendIntervals();
  void HandlePatientRequest(const std::uint8_t* frame, std::size_t size);
  void StreamPatient();
  void TakePatientPacket(const std::uint8_t* frame, std::size_t size);
  void TakePatientEnd(const std::uint8_t* frame, std::size_t size);
  void TakePatientStatus(const std::uint8_t* frame, std::size_t size);
  void SendRecord(int store, int index, std::vector<std::uint8_t> frame);
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

  // A patient block on its way: to the host (awaiting its status) or from it.
  enum class Patient { kIdle, kAwaitStatus, kReceiving };
  Patient patient_ = Patient::kIdle;
  HidPatientBlock patient_in_{};
  int patient_packets_ = 0;
  bool patient_out_of_order_ = false;

  std::vector<HidPlanBlock> uploads_;
  std::vector<HidPatientBlock> patient_uploads_;
  std::vector<int> patient_statuses_;
  std::map<HidExchange, int> served_;
  int deletes_ = 0;
  int sessions_ended_ = 0;
  std::vector<std::string> complaints_;
};

}  // namespace bplink::sim
