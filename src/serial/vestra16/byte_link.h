// Byte-at-a-time exchanges of the VESTRA16 family: the devices answer every
// command byte with an echo and send their blocks with no framing, so each
// byte is read by a receive of its own.
#pragma once

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/wintypes.h>

#include "serial/port_search.h"

#include <cstddef>
#include <functional>

namespace bplink::serial::vestra16 {

// The lines the families use: 8 data bits, no parity, one stop bit.
inline constexpr DWORD kHandshakeBaud = 4800;
inline constexpr DWORD kFastBaud = 115200;
DCB Line(DWORD baud);

// Both families scan every port for every transfer, also when the host says
// it opened the link itself.
inline constexpr SearchRules kScanEveryPort{false, kResultException};

// The pause between a command and its answer, and between missed
// acknowledgements.
inline constexpr unsigned kAnswerPauseMs = 100;
// Receives for one acknowledgement before the byte counts as refused.
inline constexpr int kAckReceives = 10;

// Receives `length` bytes one by one into `into`. A byte that does not come
// leaves its place as it was: the devices send fixed blocks, so the caller
// decodes the block regardless. One receive per byte is how these devices
// are read: a block asked for in one call would differ whenever the device
// pauses mid-block for longer than the receive time-out (the bytes after the
// pause would land at other places), so the call per byte stays even though
// it costs a little CPU per byte.
void ReceiveBytewise(CDevice& device, BYTE* into, std::size_t length);

// Sends the block byte by byte, waiting for `ack` after each (kAckReceives
// receives, a pause after each miss); a byte is never sent twice. Calls
// `acknowledged(i)` after byte i was acknowledged. False at the first byte
// that was not.
bool SendAcknowledged(CDevice& device, const BYTE* block, std::size_t length, BYTE ack,
                      const std::function<void(std::size_t)>& acknowledged);

// Progress after item i of n: trunc(i * 100 / n), so the last item gives
// less than 100; the final state tells the host the transfer is done.
int Percent(std::size_t i, std::size_t n);

// Closes the port; a failure to close changes nothing for the caller.
void CloseQuietly(CDevice* device);

// Runs the steps of a transfer on the port the search left open, then closes
// it whatever happened. An exception gives 8.
int RunOnOpenPort(CDevice* device, const std::function<int()>& steps);

// Reads and drops single bytes until none comes. Bounded, so that a line
// that never falls silent cannot hold the caller forever.
void Drain(CDevice& device);

}  // namespace bplink::serial::vestra16
