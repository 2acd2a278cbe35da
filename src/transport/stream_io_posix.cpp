// Stream reads and writes on POSIX file descriptors.
//
// The deadline is real time on a monotonic clock: it bounds a wait on a real
// descriptor, which a virtual clock could not shorten.

#include "stream_io.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>

namespace bplink::stream_io {
namespace {

using Clock = std::chrono::steady_clock;

enum class Wait { kReady, kTimedOut, kFailed };

bool IsSocket(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

// A call that did nothing but may succeed later. Checked against the
// deadline, so a stream that keeps saying "ready" but gives nothing cannot
// hold the caller past it.
bool Retry(Clock::time_point deadline) {
  return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) && Clock::now() < deadline;
}

// Waits until `fd` is ready for `events` or the deadline passes. A deadline
// already past still looks once, so bytes that are there are taken.
Wait WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, events, 0};
    const auto wait_ms = std::clamp<std::int64_t>(left.count(), 0, std::numeric_limits<int>::max());
    const int ready = ::poll(&p, 1, static_cast<int>(wait_ms));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Wait::kFailed;
    }
    if (ready == 0) {
      if (Clock::now() < deadline) continue;  // woken early: the deadline stands
      return Wait::kTimedOut;
    }
    if (p.revents & POLLNVAL) return Wait::kFailed;
    // A hung-up stream may still hold bytes: read them, the read then ends it.
    if (p.revents & events) return Wait::kReady;
    return Wait::kFailed;
  }
}

// One read that never blocks, even on a descriptor the host left blocking:
// sockets are asked not to wait, other streams are asked only for what they
// hold.
ssize_t ReadSome(int fd, bool socket, std::uint8_t* data, std::size_t size) {
  if (socket) return ::recv(fd, data, size, MSG_DONTWAIT);
  int available = 0;
  if (::ioctl(fd, FIONREAD, &available) == 0)
    size = std::min(size, static_cast<std::size_t>(std::max(available, 1)));
  return ::read(fd, data, size);
}

ssize_t WriteSome(int fd, bool socket, const std::uint8_t* data, std::size_t size) {
  if (socket) return ::send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
  return ::write(fd, data, size);
}

Clock::time_point DeadlineAfter(unsigned timeoutMs) {
  return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

}  // namespace

bool ReadExact(std::intptr_t stream, std::uint8_t* data, std::size_t size, unsigned timeoutMs) {
  const int fd = static_cast<int>(stream);
  if (fd < 0 || (data == nullptr && size > 0)) return false;
  const bool socket = IsSocket(fd);
  const auto deadline = DeadlineAfter(timeoutMs);
  std::size_t got = 0;
  while (got < size) {
    if (WaitFor(fd, POLLIN, deadline) != Wait::kReady) return false;
    const ssize_t n = ReadSome(fd, socket, data + got, size - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0 || !Retry(deadline)) {
      return false;  // end of stream: hung up or closed by the peer
    }
  }
  return true;
}

bool WriteAll(std::intptr_t stream, const std::uint8_t* data, std::size_t size, unsigned timeoutMs) {
  const int fd = static_cast<int>(stream);
  if (fd < 0 || (data == nullptr && size > 0)) return false;
  const bool socket = IsSocket(fd);
  const auto deadline = DeadlineAfter(timeoutMs);
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t n = WriteSome(fd, socket, data + sent, size - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0 || !Retry(deadline)) return false;
    if (WaitFor(fd, POLLOUT, deadline) != Wait::kReady) return false;
  }
  return true;
}

}  // namespace bplink::stream_io
