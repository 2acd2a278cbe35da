// Stream reads and writes on a connected Windows SOCKET.
//
// select bounds every wait; the deadline is real time on a monotonic clock,
// since it limits a wait on a real socket.

#include "stream_io.h"

#include <winsock2.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace bplink::stream_io {
namespace {

using Clock = std::chrono::steady_clock;

enum class Direction { kRead, kWrite };

// True when the socket is ready before the deadline. A deadline already
// past still looks once, so bytes that are there are taken.
bool WaitFor(SOCKET s, Direction direction, Clock::time_point deadline) {
  const auto left = std::max<std::int64_t>(
      std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count(), 0);
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(s, &ready);
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(s, &failed);
  timeval wait{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
  const int n = direction == Direction::kRead ? ::select(0, &ready, nullptr, &failed, &wait)
                                              : ::select(0, nullptr, &ready, &failed, &wait);
  return n > 0 && FD_ISSET(s, &ready) && !FD_ISSET(s, &failed);
}

int Chunk(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

}  // namespace

bool ReadExact(std::intptr_t stream, std::uint8_t* data, std::size_t size, unsigned timeoutMs) {
  const SOCKET s = static_cast<SOCKET>(stream);
  if (s == INVALID_SOCKET || (data == nullptr && size > 0)) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t got = 0;
  while (got < size) {
    if (!WaitFor(s, Direction::kRead, deadline)) return false;
    const int n = ::recv(s, reinterpret_cast<char*>(data + got), Chunk(size - got), 0);
    if (n <= 0) return false;  // closed by the peer, or failed
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(std::intptr_t stream, const std::uint8_t* data, std::size_t size, unsigned timeoutMs) {
  const SOCKET s = static_cast<SOCKET>(stream);
  if (s == INVALID_SOCKET || (data == nullptr && size > 0)) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t sent = 0;
  while (sent < size) {
    if (!WaitFor(s, Direction::kWrite, deadline)) return false;
    const int n = ::send(s, reinterpret_cast<const char*>(data + sent), Chunk(size - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace bplink::stream_io
