// MLLP over a POSIX TCP socket. Every wait is a poll() with the time-out,
// so a silent peer costs at most the time-out per wait, and the library
// reads no clock.

#include "mllp_client.h"

#include <bplink/delivery/hl7.h>
#include <bplink/env.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bplink::delivery {
namespace {

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// True when `events` came on `fd` within `timeout_ms`; else `error` says why.
bool Wait(int fd, short events, int timeout_ms, std::string& error, const char* waiting_for) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeout_ms);
    if (n > 0) return true;
    if (n == 0) {
      error = std::string("no ") + waiting_for + " within " + std::to_string(timeout_ms) + " ms";
      return false;
    }
    if (errno != EINTR) {
      error = std::string("waiting for ") + waiting_for + ": " + std::strerror(errno);
      return false;
    }
  }
}

// A connected non-blocking socket, or -1 with `error` set.
int Connect(const std::string& host, int port, int timeout_ms, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = "cannot find host " + host + ": " + ::gai_strerror(rc);
    return -1;
  }
  int connected = -1;
  for (addrinfo* a = found; a && connected < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = std::string("cannot open a socket: ") + std::strerror(errno);
      continue;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      if (Wait(fd, POLLOUT, timeout_ms, error, "connection")) {
        int so_error = 0;
        socklen_t len = sizeof so_error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len);
        rc = so_error == 0 ? 0 : -1;
        errno = so_error;
        if (rc != 0) error = std::string("cannot connect: ") + std::strerror(so_error);
      } else {
        error = "cannot connect: " + error;
      }
    } else if (rc != 0) {
      error = std::string("cannot connect: ") + std::strerror(errno);
    }
    if (rc == 0) connected = fd;
    else ::close(fd);
  }
  ::freeaddrinfo(found);
  return connected;
}

bool SendAll(int fd, std::string_view bytes, int timeout_ms, std::string& error) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Wait(fd, POLLOUT, timeout_ms, error, "room to send")) return false;
    } else if (n < 0 && errno != EINTR) {
      error = std::string("sending: ") + std::strerror(errno);
      return false;
    }
  }
  return true;
}

// One framed reply: the bytes between the start byte and 0x1C (0x0D).
bool ReceiveFrame(int fd, int timeout_ms, std::string& reply, std::string& error) {
  std::string buffer;
  for (;;) {
    const std::size_t start = buffer.find(kMllpStart);
    if (start != std::string::npos) {
      // The CR after 0x1C may still be on its way; the frame is complete without it.
      if (const std::size_t end = buffer.find(kMllpEnd, start); end != std::string::npos) {
        reply = buffer.substr(start + 1, end - start - 1);
        return true;
      }
    }
    if (!Wait(fd, POLLIN, timeout_ms, error, "acknowledgement")) return false;
    char chunk[4096];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0) {
      error = "the receiver closed the connection without an acknowledgement";
      return false;
    } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      error = std::string("receiving: ") + std::strerror(errno);
      return false;
    }
  }
}

}  // namespace

MllpExchange ExchangeOverMllp(const std::string& host, int port, std::string_view message, int timeout_ms,
                              int retries, int pause_ms) {
  MllpExchange result;
  const std::string frame = MllpFrame(message);
  for (int attempt = 0; attempt <= retries; ++attempt) {
    if (attempt > 0 && pause_ms > 0) CurrentEnv()->Sleep(static_cast<unsigned>(pause_ms));
    ++result.tries;
    const Socket socket(Connect(host, port, timeout_ms, result.error));
    if (socket.fd() < 0) continue;
    result.connected = true;
    if (!SendAll(socket.fd(), frame, timeout_ms, result.error)) continue;
    if (ReceiveFrame(socket.fd(), timeout_ms, result.reply, result.error)) {
      result.answered = true;
      result.error.clear();
      return result;
    }
  }
  return result;
}

}  // namespace bplink::delivery
