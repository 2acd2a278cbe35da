// A simulated VESTRA18 monitor: three measurement stores, read out on request
// over a serial line at 9600 baud.
//
// Request bytes 0x11, 0x12 and 0x13 ask for store 1, 2 or 3, 0x14 for all
// three. The monitor echoes the byte and then sends one section per store:
// the store's set number, its record count and one 12-byte frame per reading.
// At 4800 baud it answers the detection probe 0x14 with 0x14 0x11. Bytes at
// any other speed, and bytes it does not know, are ignored as line noise.
//
// Faults: silence (no echo, or nothing after it), a section sent under another
// set number (0, or one above 3), and frames left out of a section. A monitor
// that leaves frames out pauses where they would be and goes on with the rest
// once the host has given up on each of them; only the in-process adapter
// below can tell it so, so on a pseudo-terminal such a pause never ends.
#pragma once

#include <bplink/env.h>

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device_model.h"
#include "in_process_device.h"

namespace bplink::sim {

inline constexpr int kVestra18Stores = 3;
inline constexpr unsigned kVestra18Baud = 9600;
inline constexpr unsigned kVestra18ProbeBaud = 4800;
// A section's count is one byte: a store sends at most this many readings.
inline constexpr std::size_t kVestra18MaxSection = 255;

// One stored measurement; the monitor keeps no seconds and dates readings
// from 2000 to 2255.
struct Vestra18Reading {
  CalendarTime time;
  int sys = 0;     // 16 bits on the wire
  int press2 = 0;  // this model keeps the diastolic pressure here
  int pulse = 0;
  int press3 = 0;  // and the mean arterial pressure here
  int status = 0;  // 1: a usable measurement; 0 and 3 mark one that is not
};

struct Vestra18Config {
  std::array<std::vector<Vestra18Reading>, kVestra18Stores> stores;
  // The set number each store's section is sent under; 1, 2, 3 when healthy.
  std::array<int, kVestra18Stores> section_numbers{1, 2, 3};
};

enum class Vestra18Silence {
  kNone,
  kNoEcho,     // hears the request, answers nothing
  kAfterEcho,  // echoes the request, then sends nothing
};

// Frames first .. first + count - 1 of a store are not sent.
struct Vestra18Gap {
  int store = 0;  // 0, 1, 2
  int first = 0;
  int count = 0;
};

class Vestra18Monitor : public DeviceModel {
 public:
  Vestra18Monitor() = default;
  explicit Vestra18Monitor(Vestra18Config config) : config_(std::move(config)) {}

  Vestra18Config& Config() { return config_; }
  void SetSilence(Vestra18Silence silence) { silence_ = silence; }
  void AddGap(Vestra18Gap gap) { gaps_.push_back(gap); }

  // A new connection: whatever was still to be sent is dropped.
  void OnOpen(unsigned baud) override;
  void Receive(const std::uint8_t* data, std::size_t size, unsigned baud) override;
  // The host gave up waiting for the next byte. A pause for left-out frames
  // lasts one such wait per frame.
  void HostGaveUp();

  // The request bytes it answered (not the detection probe), in order.
  const std::vector<std::uint8_t>& Requests() const { return requests_; }
  int ProbesAnswered() const { return probes_answered_; }

 private:
  void Answer(std::uint8_t request);
  void SendSection(int store);
  // Bytes go out at once, or after the pause the last Pause began.
  void Emit(std::uint8_t byte);
  void Pause(int waits);
  bool InGap(int store, int index) const;

  // Bytes held back behind a pause of `waits` host time-outs.
  struct Held {
    int waits = 0;
    std::vector<std::uint8_t> bytes;
  };

  Vestra18Config config_;
  Vestra18Silence silence_ = Vestra18Silence::kNone;
  std::vector<Vestra18Gap> gaps_;
  std::deque<Held> held_;
  std::vector<std::uint8_t> requests_;
  int probes_answered_ = 0;
};

// The in-process adapter for a monitor that pauses: the monitor sits at
// `path`, and every read there that finds the line silent tells it, so it
// resumes once it has been waited out. Other ports attach as usual.
class Vestra18Line : public InProcessDevice {
 public:
  Vestra18Line(const std::wstring& path, Vestra18Monitor& monitor);

  using InProcessDevice::Open;
  int Open(CString strPath, DCB dcb) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;

 private:
  std::wstring path_;
  Vestra18Monitor& monitor_;
  bool on_monitor_ = false;
};

}  // namespace bplink::sim
