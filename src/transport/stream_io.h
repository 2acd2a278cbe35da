// Exact-count reads and whole writes on a byte stream within a time-out.
//
// The serial port on POSIX and the host-connected Bluetooth link share these:
// a stream is a file descriptor (tty or socket) on POSIX, a connected SOCKET
// on Windows. Both calls wait on the stream itself (poll or select); they
// never sleep, and they return as soon as the stream fails or ends instead of
// running out the time-out.
#pragma once

#include <bplink/device.h>

#include <cstddef>
#include <cstdint>

namespace bplink::stream_io {

// Reads exactly `size` bytes into `data`. False when they do not all come
// within `timeoutMs` (kTimedOut), or when the stream fails or ends (a tty
// hung up, a peer closed: kLinkLost); `why` then says which, and is left
// alone on success. Bytes that came before a failure are consumed all the
// same, as they are on a wire; only a tty that its owner set to wake a reader
// for several bytes at once (VMIN > 1) keeps them for the next read.
bool ReadExact(std::intptr_t stream, std::uint8_t* data, std::size_t size, unsigned timeoutMs, LinkError& why);

// Writes all `size` bytes. False when the stream fails (kLinkLost), or does
// not take them within `timeoutMs` (kTimedOut); `why` then says which. A
// dropped socket never raises SIGPIPE in the host.
bool WriteAll(std::intptr_t stream, const std::uint8_t* data, std::size_t size, unsigned timeoutMs,
              LinkError& why);

}  // namespace bplink::stream_io
