// Stream reads and writes on a connected Windows SOCKET.
//
// select bounds every wait; the deadline is real time on a monotonic clock,
// since it limits a wait on a real socket.

// Winsock 2 before anything that brings in <windows.h> (the transport
// headers do), which would otherwise pull in the old winsock.h; without the
// min and max macros, as everywhere in the library.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>

#include "stream_io.h"

#include "link_error.h"

#include <algorithm>
#include <chrono>
#include <climits>

namespace bplink::stream_io {
namespace {

using Clock = std::chrono::steady_clock;

enum class Direction { kRead, kWrite };
enum class Wait { kReady, kTimedOut, kFailed };

// The error a socket holds after select marked it failed.
int PendingError(SOCKET s) {
  int error = 0;
  int size = sizeof error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) return ::WSAGetLastError();
  return error;
}

// Waits until the socket is ready or the deadline passes. A deadline already
// past still looks once, so bytes that are there are taken. On kFailed,
// `why` says why; a time-out is worded by the caller, who knows how far it got.
Wait WaitFor(SOCKET s, Direction direction, Clock::time_point deadline, LinkError& why) {
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
  if (n == 0) return Wait::kTimedOut;
  if (n == SOCKET_ERROR) {
    SetLinkError(why, LinkErrorKind::kLinkLost, ::WSAGetLastError());
    return Wait::kFailed;
  }
  if (FD_ISSET(s, &failed)) {
    SetLinkError(why, LinkErrorKind::kLinkLost, PendingError(s), "the link failed");
    return Wait::kFailed;
  }
  return Wait::kReady;
}

int Chunk(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

bool BadArguments(SOCKET s, const std::uint8_t* data, std::size_t size, LinkError& why) {
  if (s == INVALID_SOCKET) {
    SetLinkError(why, LinkErrorKind::kNotOpen, 0, "the stream is not open");
    return true;
  }
  if (data == nullptr && size > 0) {
    SetLinkError(why, LinkErrorKind::kOther, 0, "no buffer for the bytes");
    return true;
  }
  return false;
}

}  // namespace

bool ReadExact(std::intptr_t stream, std::uint8_t* data, std::size_t size, unsigned timeoutMs, LinkError& why) {
  const SOCKET s = static_cast<SOCKET>(stream);
  if (BadArguments(s, data, size, why)) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t got = 0;
  while (got < size) {
    const Wait wait = WaitFor(s, Direction::kRead, deadline, why);
    if (wait == Wait::kTimedOut) SetTimedOut(why, got, size, timeoutMs);
    if (wait != Wait::kReady) return false;
    const int n = ::recv(s, reinterpret_cast<char*>(data + got), Chunk(size - got), 0);
    if (n == 0) {
      SetLinkError(why, LinkErrorKind::kLinkLost, 0, "the other end closed the link");
      return false;
    }
    if (n == SOCKET_ERROR) {
      SetLinkError(why, LinkErrorKind::kLinkLost, ::WSAGetLastError());
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(std::intptr_t stream, const std::uint8_t* data, std::size_t size, unsigned timeoutMs,
              LinkError& why) {
  const SOCKET s = static_cast<SOCKET>(stream);
  if (BadArguments(s, data, size, why)) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t sent = 0;
  while (sent < size) {
    const Wait wait = WaitFor(s, Direction::kWrite, deadline, why);
    if (wait == Wait::kTimedOut) SetTimedOut(why, sent, size, timeoutMs);
    if (wait != Wait::kReady) return false;
    const int n = ::send(s, reinterpret_cast<const char*>(data + sent), Chunk(size - sent), 0);
    if (n == 0) {
      SetLinkError(why, LinkErrorKind::kLinkLost, 0, "the link takes no bytes");
      return false;
    }
    if (n == SOCKET_ERROR) {
      SetLinkError(why, LinkErrorKind::kLinkLost, ::WSAGetLastError());
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace bplink::stream_io
