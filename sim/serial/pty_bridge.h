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
#pragma once

#include <atomic>
#include <memory>
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
  void Serve();
  bool Deliver(int master);  // false when the line is gone
  bool Flush(int master);

  DeviceModel& model_;
  std::unique_ptr<Pty> pty_;
  std::string path_;
  int wake_[2] = {-1, -1};  // a pipe: Stop writes, the thread wakes and ends
  std::thread thread_;
};

}  // namespace bplink::sim
