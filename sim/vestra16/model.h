// Simulated VESTRA16-family monitors, seen from the device's side.
//
// The monitor keeps a settings area (patient texts, recording start, plan)
// and its stored measurements. It answers single command bytes with an echo
// and fixed blocks, and takes a plan upload byte by byte, acknowledging each
// byte; only a fully acknowledged upload replaces its settings. It hears
// only bytes sent at the speed of the phase they belong to.
//
// One model serves both families; a Dialect says how each one talks (see
// vestra16c/model.h for the younger one). wire.h has its bytes; link.cpp
// what it answers on the line, download.cpp the settings and records it
// serves, upload.cpp how it takes a plan, make.cpp its demo device.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "device_model.h"
#include "vestra16/wire.h"

namespace bplink::sim {
struct SimSettings;
}

namespace bplink::sim::vestra16 {

// A clock value as the monitor keeps it.
struct Clock {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  friend bool operator==(const Clock&, const Clock&) = default;
};

// The settings area, field by field as the monitor stores them.
struct Settings {
  std::array<std::uint8_t, 30> patient1{};
  std::array<std::uint8_t, 11> patient2{};
  Clock start;  // the recording start; the measurements count from here
  Clock next;   // the start the PC asked for at its last upload
  std::uint8_t option1 = 1;
  std::uint8_t option2 = 1;  // stored as it came; the families read it differently
  std::uint8_t period1_hour = 7, period1_minute = 0, period1_interval = 60;
  std::uint8_t period2_hour = 22, period2_minute = 0, period2_interval = 30;
  std::array<std::uint8_t, 5> extra{kNotSet, kNotSet, kNotSet, kNotSet, kNotSet};  // start h/m, interval, end h/m
  std::uint8_t period_code = 1;

  friend bool operator==(const Settings&, const Settings&) = default;
};

// One stored measurement.
struct Measurement {
  std::uint32_t minutes = 0;  // after the recording start; 24 bits on the wire
  std::uint16_t systolic = 120;
  std::uint8_t press2 = 80;
  std::uint8_t pulse = 70;
  std::uint8_t press3 = 95;
  std::uint8_t status = 0;
  std::uint8_t flags = 0;
  std::uint8_t extra = 0;  // the last byte of the block
};

// The monitor's side of its blocks.
std::array<std::uint8_t, kSettingsBytes> EncodeSettings(const Settings& s, std::uint16_t count);
Settings DecodePlan(const std::array<std::uint8_t, kPlanBytes>& plan);
std::array<std::uint8_t, kRecordBytes> EncodeMeasurement(const Measurement& m);

// How a family talks.
struct Dialect {
  unsigned control_baud;              // finding the monitor, and uploads
  unsigned data_baud;                 // settings and records
  std::uint8_t settings_command;      // read the settings block (on the data line)
  std::optional<std::uint8_t> handshake_answer;  // answer to 0x88 on the control line, if it is no settings read
  std::uint8_t upload_answer;         // answer to 0xAA
  std::uint8_t ack;                   // acknowledgement of each uploaded byte
};

// Faults to inject.
struct Faults {
  // Settings reads left without an answer, by their number (0 = first).
  std::set<int> unanswered_settings_reads;
  // For a measurement (by index), how many requests for it go unanswered;
  // the monitor does not move on to the next one meanwhile.
  std::map<int, int> unanswered_record_requests;
  // The upload byte (0..69) that is taken but never acknowledged; the upload
  // is then abandoned.
  int unacknowledged_plan_byte = -1;
  // After this many measurements the monitor falls silent for good, having
  // sent the echo and `bytes_before_silence` bytes of the next one.
  int silent_after_records = -1;
  int bytes_before_silence = 0;
};

class Monitor : public DeviceModel {
 public:
  // A VESTRA16 monitor.
  Monitor();

  Settings& settings() { return settings_; }
  std::vector<Measurement>& measurements() { return measurements_; }
  Faults& faults() { return faults_; }

  int settings_reads() const { return settings_reads_; }
  int record_requests() const { return record_requests_; }
  int confirmed_uploads() const { return confirmed_uploads_; }
  // The bytes of the last confirmed upload, as they came.
  const std::array<std::uint8_t, kPlanBytes>& last_plan() const { return last_plan_; }

  void OnOpen(unsigned baud) override;
  void OnClose() override;
  void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) override;

 protected:
  // A monitor of the family that talks so.
  explicit Monitor(const Dialect& dialect) : dialect_(dialect) {}

 private:
  // On the line (link.cpp).
  void Command(std::uint8_t byte, unsigned baud);
  // Serving the settings and the records (download.cpp).
  void SendSettings();
  void SendNextRecord();
  // Taking a plan (upload.cpp).
  void PlanByte(std::uint8_t byte);

  Dialect dialect_;
  Settings settings_;
  std::vector<Measurement> measurements_;
  Faults faults_;

  std::size_t cursor_ = 0;  // next measurement to send
  bool silent_ = false;
  std::optional<std::size_t> plan_received_;  // set while an upload runs
  std::array<std::uint8_t, kPlanBytes> plan_{};
  std::array<std::uint8_t, kPlanBytes> last_plan_{};
  int settings_reads_ = 0;
  int record_requests_ = 0;
  int confirmed_uploads_ = 0;
};

// Stores the demo wearer's day in the monitor (make.cpp); the VESTRA16C
// monitor's factory shares it.
void StoreDemoDay(Monitor& monitor, const SimSettings& settings);

}  // namespace bplink::sim::vestra16
