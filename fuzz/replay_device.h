// What every fuzz target shares: a device whose replies come from the fuzz
// input, on a virtual clock so that a silent device costs no real time.
//
// The input is a run of bursts, each a length byte n followed by n bytes the
// device sends (the last burst may be cut short by the end of the input).
// A receive takes its bytes from what the device has sent and the host has
// not read yet; while that is too little it takes the next burst. A burst of
// length 0 is silence: the receive then fails as a silent device does, after
// the receive time-out, and like a real port it consumes the bytes that did
// arrive. Bytes left over from a long burst stay for the next receive, as on
// a serial line. When the input runs out the device falls silent for good.
// Sends, opens and closes always succeed.
#pragma once

#include <bplink/bplink.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "virtual_env.h"

namespace bplink::fuzz {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kSilence = 0;
inline constexpr std::size_t kMaxBurst = 0xFF;

class ReplayDevice : public CDevice {
 public:
  static constexpr unsigned kRecvTimeoutMs = CDevice_COM::kDefaultRecvTimeoutMs;

  explicit ReplayDevice(std::span<const std::uint8_t> input) : input_(input) {}

  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

 private:
  // Appends the next burst; false when the device stays silent.
  bool NextBurst();

  std::span<const std::uint8_t> input_;
  std::size_t at_ = 0;
  std::deque<std::uint8_t> pending_;
};

// Appends what a device sent for one receive, in bursts, or one silence.
void AppendReply(Bytes& input, std::span<const std::uint8_t> reply);
void AppendSilence(Bytes& input);

// The machine of one run: a virtual clock with one openable serial port.
struct FuzzMachine {
  FuzzMachine();
  // Where the port is opened; a simulated device goes here.
  static std::wstring PortPath();

  testing::VirtualEnv env;
  testing::ScopedEnv scope{&env};
};

// The data mode a target's first input byte selects, and the rest.
enum_DataMode TakeDataMode(std::span<const std::uint8_t>& input);

}  // namespace bplink::fuzz
