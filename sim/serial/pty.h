// A pseudo-terminal owned by the device side of a simulated serial line.
//
// The master descriptor is the device's end of the wire; the slave's path is
// the port a host opens. The pty holds the slave open itself, so that the
// line settings a host makes stay readable after the host closes, and so the
// master never sees a hangup between two host sessions.
#pragma once

#include <string>

namespace bplink::sim {

class Pty {
 public:
  Pty();  // check IsOpen(): a system may have no ptys to give
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool IsOpen() const { return master_ >= 0; }
  int Master() const { return master_; }
  // The port a host opens, e.g. /dev/pts/3.
  const std::string& Path() const { return path_; }

  // The speed the host last set on the line, in baud; 0 when it is not one
  // a serial device could run at, or the pty is closed.
  unsigned LineSpeed() const;
  // Whether the host asked for two stop bits (the one framing setting a pty
  // keeps: character size and parity are always 8 and none there).
  bool TwoStopBits() const;

  // The port vanishes, also under a host that holds it open: its reads end
  // and its writes fail, and the path no longer opens.
  void Close();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace bplink::sim
