// Wrappers that count what a transfer costs by its own design: the bytes it
// puts on the wire and takes off it, the pauses it makes and the receives it
// lets run into their time-out. The floor of a transfer is computed from
// these counts, so it follows the frames actually exchanged.
#pragma once

#include <bplink/device.h>
#include <bplink/env.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace bplink::bench {

// What crossed the line, in the units of the floor.
struct WireCount {
  std::uint64_t bytes = 0;         // both ways
  double wire_ms = 0;              // each byte at 10 bits at the speed it went at
  std::uint64_t timeouts = 0;      // receives that got nothing in time
  double timeout_ms = 0;           // what those receives were allowed to wait
  std::uint64_t calls = 0;         // SendData and RecvData calls
  std::uint64_t turns = 0;         // receives right after a send: the line turned round

  WireCount& operator+=(const WireCount& other);
};

// The least time a transfer could take given what it did, with pauses and
// wire time overlapping where the line allows: the host's pauses follow one
// another; the bytes each way follow one another at 10 bits at the line's
// speed; a device answers no earlier than it has heard the first byte of the
// host's last request (an echo starts then, a frame needs more, so this is
// the least), and may go on sending, as a stream, while the host sleeps; a
// receive ends when its last byte is through. A send does not hold the host
// up. Kept twice: with the receives that ran into their time-out charged
// their deadline, and without them, so the time-outs, whose length is this
// library's choice rather than the protocol's, show apart.
class Floor {
 public:
  void Pause(double ms);
  void Sent(std::uint64_t bytes, unsigned baud);
  void Received(std::uint64_t bytes, unsigned baud);
  void TimedOut(double deadline_ms);

  double ProtocolMs() const { return without_.host; }      // pauses and wire time, overlapping
  double WithTimeOutsMs() const { return with_.host; }     // and the time-outs spent waiting

 private:
  struct Line {
    double host = 0;       // when the host is done with what it did so far
    double out_free = 0;   // when the host-to-device wire is free
    double in_free = 0;    // when the device-to-host wire is free
    double heard = 0;      // when the device heard the first byte of the last request
  };
  static void Sent(Line& line, std::uint64_t bytes, unsigned baud);
  static void Received(Line& line, std::uint64_t bytes, unsigned baud);
  Line with_, without_;
};

// Forwards every call to a serial port and counts. A receive that fails is
// charged the port's own deadline for it: its time-out plus the line time of
// the bytes asked for.
class CountingDevice : public CDevice {
 public:
  explicit CountingDevice(CDevice_COM& port, Floor* floor = nullptr) : port_(port), floor_(floor) {}

  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override { return port_.Open(nDevice); }
  int Close() override { return port_.Close(); }
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  const WireCount& Count() const { return count_; }
  // Every line speed a port was opened at, lowest first.
  const std::set<unsigned>& Speeds() const { return speeds_; }

 private:
  double LineMs(std::uint64_t bytes) const;

  CDevice_COM& port_;
  Floor* floor_;
  unsigned baud_ = 0;
  bool sent_last_ = false;
  WireCount count_;
  std::set<unsigned> speeds_;
};

// An Env whose pauses are counted: real ones forwarded to the machine's Env,
// or virtual ones that only add up. The port list is the benchmark's own.
class CountingEnv : public EnvWrapper {
 public:
  enum class Clock { kReal, kVirtual };
  explicit CountingEnv(Clock clock, Floor* floor = nullptr) : EnvWrapper(Env::Default()), clock_(clock), floor_(floor) {}

  void Sleep(unsigned milliseconds) override;
  CalendarTime LocalTime() override;
  std::vector<std::wstring> ComPortNames() override { return ports_; }
  bool CanOpenComPort(const std::wstring& path) override { return openable_.count(path) != 0; }

  // Ports by their full paths, in search order; all of them openable.
  void SetPorts(std::vector<std::wstring> paths);

  std::uint64_t PausedMs() const { return paused_ms_; }
  std::uint64_t PauseCount() const { return pauses_count_; }
  void Reset() { paused_ms_ = pauses_count_ = 0; }

 private:
  Clock clock_;
  Floor* floor_;
  std::uint64_t paused_ms_ = 0;
  std::uint64_t pauses_count_ = 0;
  std::vector<std::wstring> ports_;
  std::set<std::wstring> openable_;
};

}  // namespace bplink::bench
