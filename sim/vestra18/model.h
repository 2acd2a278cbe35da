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
//
// wire.h has its bytes; link.cpp what it answers on the line (and the
// pauses), download.cpp the sections it serves, make.cpp its demo device. It
// takes no plan.
#pragma once

#include <bplink/env.h>

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device_model.h"
#include "in_process_device.h"
#include "vestra18/wire.h"

namespace bplink::sim::vestra18 {

// One stored measurement; the monitor keeps no seconds and dates readings
// from 2000 to 2255.
struct Reading {
  CalendarTime time;
  int sys = 0;     // 16 bits on the wire
  int press2 = 0;  // this model keeps the diastolic pressure here
  int pulse = 0;
  int press3 = 0;  // and the mean arterial pressure here
  int status = 0;  // 1: a usable measurement; 0 and 3 mark one that is not
};

struct MonitorConfig {
  std::array<std::vector<Reading>, kStores> stores;
  // The set number each store's section is sent under; 1, 2, 3 when healthy.
  std::array<int, kStores> section_numbers{1, 2, 3};
};

enum class Silence {
  kNone,
  kNoEcho,     // hears the request, answers nothing
  kAfterEcho,  // echoes the request, then sends nothing
};

// Frames first .. first + count - 1 of a store are not sent.
struct Gap {
  int store = 0;  // 0, 1, 2
  int first = 0;
  int count = 0;
};

class Monitor : public DeviceModel {
 public:
  Monitor() = default;
  explicit Monitor(MonitorConfig config) : config_(std::move(config)) {}

  MonitorConfig& Config() { return config_; }
  void SetSilence(Silence silence) { silence_ = silence; }
  void AddGap(Gap gap) { gaps_.push_back(gap); }

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
  // Serving the stores (download.cpp).
  void Answer(std::uint8_t request);
  void SendSection(int store);
  bool InGap(int store, int index) const;
  // On the line (link.cpp): bytes go out at once, or after the pause the
  // last Pause began.
  void Emit(std::uint8_t byte);
  void Pause(int waits);

  // Bytes held back behind a pause of `waits` host time-outs.
  struct Held {
    int waits = 0;
    std::vector<std::uint8_t> bytes;
  };

  MonitorConfig config_;
  Silence silence_ = Silence::kNone;
  std::vector<Gap> gaps_;
  std::deque<Held> held_;
  std::vector<std::uint8_t> requests_;
  int probes_answered_ = 0;
};

// The in-process adapter for a monitor that pauses: the monitor sits at
// `path`, and every read there that finds the line silent tells it, so it
// resumes once it has been waited out. Other ports attach as usual.
class Line : public InProcessDevice {
 public:
  Line(const std::wstring& path, Monitor& monitor);

  using InProcessDevice::Open;
  int Open(CString strPath, DCB dcb) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;

 private:
  std::wstring path_;
  Monitor& monitor_;
  bool on_monitor_ = false;
};

}  // namespace bplink::sim::vestra18
