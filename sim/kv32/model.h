// A simulated KV32 monitor, seen from the device's side of the wire.
//
// It listens at two speeds, each for its own commands, as the real monitor
// does: at 4800 baud it answers the greeting (echoing 'Q' or 'R') and takes a
// plan upload ('U', then 71 bytes, each confirmed with 'U'); at 115200 baud
// it answers the plan request ('T' dates records in minutes, 'S' in seconds)
// with its plan and its two counts, hands out one record per 0xEE and echoes
// the sample request 0xDB. A byte heard at the other speed is noise to it and
// gets no answer.
//
// An uploaded plan starts a new recording: it replaces the plan, takes the
// start of recording from the block and empties the record store, so a
// following download reads back what the block carried.
//
// wire.h has its bytes; link.cpp what it answers on the line, download.cpp
// the plan and records it serves, upload.cpp how it takes a plan, make.cpp
// its demo device.
#pragma once

#include <bplink/env.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device_model.h"
#include "kv32/wire.h"

namespace bplink::sim::kv32 {

using PlanBlock = std::array<std::uint8_t, kPlanBlockLength>;

// One stored measurement. Its time must lie a whole number of the download's
// units (minutes or seconds) after the start of the recording.
struct Reading {
  CalendarTime time;
  int sys = 120;    // 16 bits on the wire
  int press2 = 80;  // this model keeps the diastolic pressure here
  int pulse = 70;
  int press3 = 93;  // and the mean pressure here
  int status = 0;   // 0 and 3: a usable measurement
  int flags = 0;
};

// The plan as the monitor keeps it. 0xFF means "none" in the interval,
// window and option fields.
struct Plan {
  std::string patient1;  // up to 30 bytes
  std::string patient2;  // up to 11 bytes
  CalendarTime start;    // start of the recording
  int option1 = 0xFF;
  int option2 = 1;
  int day_hour = 7, day_minute = 0, day_interval = 60;
  int night_hour = 22, night_minute = 0, night_interval = 30;
  int extra_start_hour = 0xFF, extra_start_minute = 0xFF, extra_interval = 0xFF;
  int extra_end_hour = 0xFF, extra_end_minute = 0xFF;

  friend bool operator==(const Plan&, const Plan&) = default;
};

struct MonitorConfig {
  Plan plan;
  std::vector<Reading> readings;
  int spo2_samples = 0;                  // announced only; 24 bits
  std::optional<int> announced_records;  // the count sent; the store's size when unset
  unsigned greeting_baud = kGreetingBaud;  // greeting and upload
  unsigned download_baud = kDownloadBaud;
};

// The exchanges a fault can be put on.
enum class Exchange {
  kGreeting,     // 'Q' / 'R'
  kPlanRequest,  // 'T' / 'S'
  kRecord,       // 0xEE
  kSpO2,         // 0xDB
  kUpload,       // 'U'
  kPlanByte,     // the confirmation of a plan byte
};

enum class Fault {
  kNoEcho,     // no answer at all
  kWrongEcho,  // another byte instead of the echo, and nothing after it
  kNoise,      // a stray byte before the right answer
};

class Monitor : public DeviceModel {
 public:
  static constexpr int kAlways = -1;

  Monitor() = default;
  explicit Monitor(MonitorConfig config) : config_(std::move(config)) {}

  MonitorConfig& Config() { return config_; }
  // The fault hits the next `times` exchanges of that kind (kAlways: all).
  void SetFault(Exchange exchange, Fault fault, int times = kAlways) {
    faults_[exchange] = {fault, times};
  }
  // After handing out this many records the monitor falls silent for good.
  void SilenceAfterRecords(int records) { silent_after_ = records; }

  void OnOpen(unsigned baud) override;
  void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) override;

  // What the host did.
  const std::vector<PlanBlock>& Uploads() const { return uploads_; }
  int RecordRequests() const { return record_requests_; }
  int SpO2Requests() const { return spo2_requests_; }

 private:
  // On the line (link.cpp): the commands of each speed, and their echoes.
  void OnGreetingSpeed(std::uint8_t byte);
  void OnDownloadSpeed(std::uint8_t byte);
  // Answers `echo` unless a fault on the exchange says otherwise; true when
  // the echo went out and the rest of the answer should follow.
  bool Echo(Exchange exchange, std::uint8_t echo);
  // Serving the plan and the records (download.cpp).
  void SendPlan();
  void SendRecord(const Reading& reading);
  // Taking a plan (upload.cpp).
  void TakePlanByte(std::uint8_t byte);
  void StorePlan(const PlanBlock& block);

  MonitorConfig config_;
  struct ActiveFault {
    Fault fault;
    int times;
  };
  std::map<Exchange, ActiveFault> faults_;
  std::optional<int> silent_after_;

  bool seconds_ = false;      // the last plan request asked for offsets in seconds
  std::size_t next_record_ = 0;
  bool receiving_plan_ = false;
  std::vector<std::uint8_t> block_;

  std::vector<PlanBlock> uploads_;
  int record_requests_ = 0;
  int spo2_requests_ = 0;
  int records_sent_ = 0;
};

}  // namespace bplink::sim::kv32
