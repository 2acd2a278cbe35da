// Stream reads and writes on POSIX file descriptors.
//
// The deadline is real time on a monotonic clock: it bounds a wait on a real
// descriptor, which a virtual clock could not shorten.

#include "stream_io.h"

#include "link_error.h"

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

// A call that did nothing but may succeed later.
bool Transient(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

// How a stream that ended is worded: a tty hangs up, a socket's peer closes.
void SetEnded(LinkError& why, bool socket) {
  SetLinkError(why, LinkErrorKind::kLinkLost, 0, socket ? "the other end closed the link" : "the line hung up");
}

// Waits until `fd` is ready for `events` or the deadline passes. A deadline
// already past still looks once, so bytes that are there are taken. On
// kFailed, `why` says why; a time-out is worded by the caller, who knows
// how far it got.
Wait WaitFor(int fd, short events, Clock::time_point deadline, bool socket, LinkError& why) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, events, 0};
    const auto wait_ms = std::clamp<std::int64_t>(left.count(), 0, std::numeric_limits<int>::max());
    const int ready = ::poll(&p, 1, static_cast<int>(wait_ms));
    if (ready < 0) {
      const int err = errno;
      if (err == EINTR) continue;
      SetLinkError(why, LinkErrorKind::kLinkLost, err);
      return Wait::kFailed;
    }
    if (ready == 0) {
      if (Clock::now() < deadline) continue;  // woken early: the deadline stands
      return Wait::kTimedOut;
    }
    if (p.revents & POLLNVAL) {
      SetLinkError(why, LinkErrorKind::kNotOpen, 0, "the stream is not open");
      return Wait::kFailed;
    }
    // A hung-up stream may still hold bytes: read them, the read then ends it.
    if (p.revents & events) return Wait::kReady;
    SetEnded(why, socket);
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

bool BadArguments(int fd, const std::uint8_t* data, std::size_t size, LinkError& why) {
  if (fd < 0) {
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
  const int fd = static_cast<int>(stream);
  if (BadArguments(fd, data, size, why)) return false;
  const bool socket = IsSocket(fd);
  const auto deadline = DeadlineAfter(timeoutMs);
  std::size_t got = 0;
  while (got < size) {
    const Wait wait = WaitFor(fd, POLLIN, deadline, socket, why);
    if (wait == Wait::kTimedOut) SetTimedOut(why, got, size, timeoutMs);
    if (wait != Wait::kReady) return false;
    const ssize_t n = ReadSome(fd, socket, data + got, size - got);
    const int err = errno;
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) {
      SetEnded(why, socket);  // end of stream: hung up or closed by the peer
      return false;
    }
    if (!Transient(err)) {
      SetLinkError(why, LinkErrorKind::kLinkLost, err);
      return false;
    }
    // A stream that keeps saying "ready" but gives nothing cannot hold the
    // caller past the deadline.
    if (Clock::now() >= deadline) {
      SetTimedOut(why, got, size, timeoutMs);
      return false;
    }
  }
  return true;
}

bool WriteAll(std::intptr_t stream, const std::uint8_t* data, std::size_t size, unsigned timeoutMs,
              LinkError& why) {
  const int fd = static_cast<int>(stream);
  if (BadArguments(fd, data, size, why)) return false;
  const bool socket = IsSocket(fd);
  const auto deadline = DeadlineAfter(timeoutMs);
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t n = WriteSome(fd, socket, data + sent, size - sent);
    const int err = errno;
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) {
      SetLinkError(why, LinkErrorKind::kLinkLost, 0, "the line takes no bytes");
      return false;
    }
    if (!Transient(err)) {
      SetLinkError(why, LinkErrorKind::kLinkLost, err);
      return false;
    }
    const Wait wait = Clock::now() < deadline ? WaitFor(fd, POLLOUT, deadline, socket, why) : Wait::kTimedOut;
    if (wait == Wait::kTimedOut) SetTimedOut(why, sent, size, timeoutMs);
    if (wait != Wait::kReady) return false;
  }
  return true;
}

}  // namespace bplink::stream_io
