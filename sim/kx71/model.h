// A simulated KX71 ambulatory recorder, seen from the device's side.
//
// It listens at 115200 baud only. It answers the six-byte greeting with its
// reply code and then streams what it stored: for each group a group header
// and a record count, then the group's records, each packet sent when the
// previous one was acknowledged. A negative acknowledgement makes it send the
// same packet again (up to kResends times). After the last packet it falls
// silent. A recorder whose reply code is 0x34 keeps a plan and sends it when
// asked with 0x54. The upload probe 0xAA is answered with 0x6C, after which
// the recorder takes a 70-byte plan block one byte at a time, confirming
// each with 0x6C, and keeps it as its stored plan.
//
// A new greeting starts everything afresh, also in the middle of a stream.
// What the recorder could not make sense of is noted in Complaints().
//
// wire.h has its bytes; link.cpp what it answers on the line, download.cpp
// the stream it serves, upload.cpp how it takes a plan, make.cpp its demo
// device.
#pragma once

#include <bplink/env.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device_model.h"
#include "kx71/wire.h"

namespace bplink::sim::kx71 {

using PlanBlock = std::array<std::uint8_t, kPlanBlockLength>;

// One measurement as the recorder keeps it (no seconds).
struct Reading {
  CalendarTime time;
  int sys = 0;     // 16 bits each on the wire
  int map = 0;     // mean arterial pressure
  int dia = 0;
  int pulse = 0;
  int status = 0;  // 0 and 3: a usable measurement
};

// The recorder files its measurements in two groups: the primary one and
// the secondary one.
struct Group {
  bool primary = true;
  CalendarTime start;
  std::vector<Reading> readings;
};

// The plan as the recorder keeps it. An interval of 0xFF means none.
struct Plan {
  std::string patient1;  // up to 30 bytes
  std::string patient2;  // up to 11 bytes
  CalendarTime clock;    // year .. minute
  int day_hour = 7, day_minute = 0, day_interval = 60;
  int night_hour = 22, night_minute = 0, night_interval = 30;

  friend bool operator==(const Plan&, const Plan&) = default;
};
PlanBlock EncodePlan(const Plan& plan);
Plan DecodePlan(const PlanBlock& block);

struct Faults {
  bool silent_stream = false;    // greets, then sends no packet at all
  bool broken_greeting = false;  // the greeting's echo is wrong: no host recognises it
  int zero_byte_record = -1;     // this record (in stream order) carries a 0 the first time
  int wrong_marker_record = -1;  // this record has a wrong marker the first time
  int unconfirmed_byte = -1;     // this byte of an upload gets no confirmation
};

struct RecorderConfig {
  std::uint8_t reply_code = kKeepsPlan;  // any byte; kWithoutPlan, kStandard and kKeepsPlan are the real ones
  std::vector<Group> groups;             // streamed in this order
  Plan plan;                             // kept, and sent on request, by a recorder that keeps a plan
  bool plan_in_stream = false;           // also send the plan as the first packet of the stream
  Faults faults;
};

class Recorder : public DeviceModel {
 public:
  static constexpr int kResends = 2;

  Recorder() = default;
  explicit Recorder(RecorderConfig config) : config_(std::move(config)) {}

  RecorderConfig& Config() { return config_; }

  void OnClose() override;
  void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) override;

  // What happened on the line.
  int Greetings() const { return greetings_; }
  int PositiveAcks() const { return positive_acks_; }
  int NegativeAcks() const { return negative_acks_; }
  int PlanRequests() const { return plan_requests_; }
  int Uploads() const { return uploads_; }
  // The last plan block uploaded completely, byte for byte.
  const PlanBlock& UploadedBlock() const { return uploaded_; }
  const std::vector<std::string>& Complaints() const { return complaints_; }

 private:
  enum class Mode { kIdle, kStreaming, kUploading };
  struct StreamPacket {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> first_time;  // a damaged first sending, when a fault says so
  };

  // On the line (link.cpp): sorting what it hears, answering the greeting.
  void Parse();
  void Greet();
  static std::string Hex(std::uint8_t byte);
  // Serving what it stored (download.cpp).
  void StartStream();
  void SendPacket(bool first_time);
  void OnAcknowledgement(std::uint8_t code);
  void SendPlan();
  // Taking a plan (upload.cpp).
  void StartUpload();
  void TakeUploadByte(std::uint8_t byte);

  RecorderConfig config_;
  Mode mode_ = Mode::kIdle;
  std::vector<std::uint8_t> pending_;  // bytes heard, not yet understood
  std::vector<StreamPacket> stream_;
  std::uint16_t primary_records_ = 0;
  std::size_t next_packet_ = 0;
  int resends_ = 0;
  PlanBlock upload_{};
  std::size_t upload_at_ = 0;

  int greetings_ = 0;
  int positive_acks_ = 0;
  int negative_acks_ = 0;
  int plan_requests_ = 0;
  int uploads_ = 0;
  PlanBlock uploaded_{};
  std::vector<std::string> complaints_;
};

}  // namespace bplink::sim::kx71
