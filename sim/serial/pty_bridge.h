// Serves a device model on a real pseudo-terminal, so a host talks to it
// through the kernel's tty layer exactly as it would to a serial port.
//
// A background thread hands the model every byte the host writes, with the
// line speed the host has set on the tty at that moment, and writes the
// model's answers back as fast as the host's side takes them. A model that
// only understands its own speed therefore ignores a host at another speed,
// as a real device hears only noise then.
//
// The speed is read when the bytes reach the bridge, a moment after the host
// wrote them; a host that changed the speed in between, without waiting for
// an answer, would be heard at the new speed. Hosts of these devices always
// wait (every request is followed by a pause and a receive).
//
// The bridge cannot see a host open or close the tty, so the model gets no
// OnOpen or OnClose: like a device on a cable, it only hears bytes.
//
// A pty has no line speed of its own: bytes cross it as fast as the kernel
// moves them. A bridge told to pace the line makes them take their wire time
// instead, at 10 bits per byte (start, 8 data, stop) at the host's speed,
// each way on its own as on a full-duplex cable: the model hears a byte once
// its stop bit would have arrived, and the host gets answer bytes once the
// last of them would have been sent. Bytes the device sends back to back
// reach the host together, up to 16 at a time, as a UART's receive FIFO hands
// them over, not byte by byte: no byte comes earlier than the wire allows,
// and the host's thread is not woken once per byte, which would measure the
// simulated line's cost rather than the host's. That is what timing
// measurements need; the functional tests keep the unpaced default and run
// at the kernel's speed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "device_model.h"
#include "pty.h"

namespace bplink::sim {

class PtyBridge {
 public:
  // The model must outlive the bridge; only the bridge's thread touches it
  // between Start and Stop.
  explicit PtyBridge(DeviceModel& model);
  ~PtyBridge();  // stops
  PtyBridge(const PtyBridge&) = delete;
  PtyBridge& operator=(const PtyBridge&) = delete;

  // Whether bytes take their wire time at the host's speed (see above).
  // Set it before Start.
  void PaceAtLineSpeed(bool pace) { pace_ = pace; }

  // Makes the pty and starts serving. False when no pty could be had.
  bool Start();
  // Stops serving and closes the pty: the port vanishes, also under a host
  // that holds it open (its reads end, its writes fail). Safe to repeat.
  void Stop();

  bool Running() const { return thread_.joinable(); }
  // The port to open, e.g. /dev/pts/3; stays readable after Stop.
  const std::string& Path() const;
  // The speed the host set last, in baud (0 before Start or after Stop).
  unsigned LineSpeed() const;

 private:
  using Clock = std::chrono::steady_clock;

  void Serve();
  bool Deliver(int master);  // false when the line is gone
  bool Flush(int master);

  // The paced line: a byte heard or sent at `due`, when its stop bit ends.
  struct Heard {
    Clock::time_point due;
    std::uint8_t byte;
    unsigned baud;
  };
  void ServePaced();
  bool HearPaced(int master);
  void DeliverDue(Clock::time_point now);
  bool SendDue(int master, Clock::time_point now);
  // The next burst from the outbox, starting at `origin` or when the line is free.
  void ScheduleBurst(Clock::time_point origin);
  std::optional<Clock::time_point> NextEvent() const;

  DeviceModel& model_;
  bool pace_ = false;
  std::deque<Heard> heard_;                    // on its way to the model
  Clock::time_point in_line_free_{};           // when the host-to-device wire is free
  Clock::time_point out_line_free_{};          // when the device-to-host wire is free
  std::optional<Clock::time_point> next_out_;  // when the burst under way is through
  std::size_t burst_ = 0;                      // its bytes, at the front of the outbox
  bool out_blocked_ = false;                   // the host's side had no room for a due byte
  std::unique_ptr<Pty> pty_;
  std::string path_;
  int wake_[2] = {-1, -1};  // a pipe: Stop writes, the thread wakes and ends
  std::thread thread_;
};

}  // namespace bplink::sim
