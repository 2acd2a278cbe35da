// The byte-level exchanges the serial families share. The devices have no
// framing of their own: a family reads a block a byte per receive, confirms
// uploads a byte at a time, and drains what a device still sends.
#pragma once

#include <bplink/device.h>
#include <bplink/wintypes.h>

#include <cstddef>

#include "frame/host_variables.h"

namespace bplink::serial {

// Receives `length` bytes one by one into `into`, one receive per byte. A
// byte that does not come leaves its place as it was: the devices send fixed
// blocks, so the caller decodes the block regardless. One receive per byte is
// how these devices are read: a block asked for in one call would differ
// whenever the device pauses mid-block for longer than the receive time-out
// (the bytes after the pause would land at other places).
void ReceiveBytewise(CDevice& device, BYTE* into, std::size_t length);

// Reads and drops single bytes until a receive brings none. Bounded, so that
// a line that never falls silent cannot hold the caller forever.
void Drain(CDevice& device);

// Closes the device; a failure to close changes nothing for the caller.
void CloseQuietly(CDevice* device);

// How a device confirms each byte of an upload.
struct AckRules {
  BYTE ack;                 // the byte that confirms
  int receives;             // receives for one confirmation before the byte counts as refused
  unsigned pauseMs;         // the pause after each receive that did not confirm
  bool pauseAfterLastMiss;  // whether that pause also follows the last receive
};

// Sends the block a byte per send, each followed by receives until the
// device confirms it; a byte is never sent twice. After byte i is confirmed
// the host's progress is Percent(i, length). False at the first byte the
// device did not confirm; the rest of the block is not sent.
bool SendAcknowledged(CDevice& device, const BYTE* block, std::size_t length, const AckRules& rules,
                      const HostVariables& host);

// Progress after item i of n: i * 100 / n, truncated, so the last item gives
// less than 100; the final state tells the host the transfer is done.
int Percent(std::size_t i, std::size_t n);

}  // namespace bplink::serial
