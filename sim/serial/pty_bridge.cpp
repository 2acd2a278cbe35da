#include "pty_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace bplink::sim {
namespace {

// As much as one read takes from the wire; a host's write may come in
// several reads, which a model on a serial line must expect anyway.
constexpr std::size_t kReadChunk = 4096;

bool Retry() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

}  // namespace

PtyBridge::PtyBridge(DeviceModel& model) : model_(model) {}

PtyBridge::~PtyBridge() { Stop(); }

bool PtyBridge::Start() {
  if (Running()) return true;
  auto pty = std::make_unique<Pty>();
  if (!pty->IsOpen() || ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  pty_ = std::move(pty);
  path_ = pty_->Path();
  thread_ = std::thread(&PtyBridge::Serve, this);
  return true;
}

void PtyBridge::Stop() {
  if (thread_.joinable()) {
    const char stop = 1;
    while (::write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  pty_.reset();
  for (int& fd : wake_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

const std::string& PtyBridge::Path() const { return path_; }

unsigned PtyBridge::LineSpeed() const { return pty_ ? pty_->LineSpeed() : 0; }

void PtyBridge::Serve() {
  const int master = pty_->Master();
  for (;;) {
    const short wanted = static_cast<short>(POLLIN | (model_.Outbox().empty() ? 0 : POLLOUT));
    pollfd fds[2] = {{master, wanted, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) && !Deliver(master)) return;
    // Answers go out at once, and whenever the host's side has room again.
    if (!Flush(master)) return;
    if (fds[0].revents & (POLLERR | POLLNVAL)) return;
  }
}

bool PtyBridge::Deliver(int master) {
  std::uint8_t bytes[kReadChunk];
  const ssize_t n = ::read(master, bytes, sizeof bytes);
  if (n < 0) return Retry();
  if (n == 0) return false;
  model_.Receive(bytes, static_cast<std::size_t>(n), pty_->LineSpeed());
  return true;
}

bool PtyBridge::Flush(int master) {
  auto& outbox = model_.Outbox();
  while (!outbox.empty()) {
    std::uint8_t bytes[kReadChunk];
    std::size_t size = 0;
    for (auto it = outbox.begin(); it != outbox.end() && size < sizeof bytes; ++it) bytes[size++] = *it;
    const ssize_t n = ::write(master, bytes, size);
    if (n <= 0) return n == 0 || Retry();  // full: poll says when there is room
    outbox.erase(outbox.begin(), outbox.begin() + n);
  }
  return true;
}

}  // namespace bplink::sim
