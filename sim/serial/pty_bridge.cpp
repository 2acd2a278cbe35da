#include "pty_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace bplink::sim {
namespace {

// As much as one read takes from the wire; a host's write may come in
// several reads, which a model on a serial line must expect anyway.
constexpr std::size_t kReadChunk = 4096;
// The most bytes a paced line hands over at once: a UART's receive FIFO.
constexpr std::size_t kFifoBytes = 16;

bool Retry() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

// A character on an 8N1 line: start bit, 8 data bits, stop bit.
constexpr std::int64_t kBitsPerByte = 10;
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

std::chrono::nanoseconds ByteTime(unsigned baud) {
  return std::chrono::nanoseconds(kBitsPerByte * kNanosPerSecond / baud);
}

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
  if (pace_) return ServePaced();
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

namespace bplink::sim {

void PtyBridge::ServePaced() {
#if defined(__linux__)
  // Byte times at 115200 baud are under 90 us; the default timer slack of
  // 50 us would stretch every wait by a good part of one.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
  const int master = pty_->Master();
  for (;;) {
    const auto next = NextEvent();
    timespec wait{};
    timespec* bound = nullptr;
    if (next) {
      const auto left = std::max(std::chrono::nanoseconds::zero(), *next - Clock::now());
      wait.tv_sec = static_cast<time_t>(left.count() / kNanosPerSecond);
      wait.tv_nsec = static_cast<long>(left.count() % kNanosPerSecond);
      bound = &wait;
    }
    const short wanted = static_cast<short>(POLLIN | (out_blocked_ ? POLLOUT : 0));
    pollfd fds[2] = {{master, wanted, 0}, {wake_[0], POLLIN, 0}};
    if (::ppoll(fds, 2, bound, nullptr) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) && !HearPaced(master)) return;
    const auto now = Clock::now();
    DeliverDue(now);
    if (!SendDue(master, now)) return;
    if (fds[0].revents & (POLLERR | POLLNVAL)) return;
  }
}

bool PtyBridge::HearPaced(int master) {
  std::uint8_t bytes[kReadChunk];
  const ssize_t n = ::read(master, bytes, sizeof bytes);
  if (n < 0) return Retry();
  if (n == 0) return false;
  const auto now = Clock::now();
  const unsigned baud = pty_->LineSpeed();
  for (ssize_t i = 0; i < n; ++i) {
    // A line at no known speed carries nothing a device could hear in
    // time; its bytes are handed over at once, as unpaced.
    in_line_free_ = baud == 0 ? now : std::max(in_line_free_, now) + ByteTime(baud);
    heard_.push_back({in_line_free_, bytes[i], baud});
  }
  return true;
}

void PtyBridge::DeliverDue(Clock::time_point now) {
  // Bytes due together reach the model in one call, as one read would.
  while (!heard_.empty() && heard_.front().due <= now) {
    std::uint8_t bytes[kReadChunk];
    std::size_t size = 0;
    const unsigned baud = heard_.front().baud;
    Clock::time_point heard_at{};
    while (!heard_.empty() && heard_.front().due <= now && heard_.front().baud == baud && size < sizeof bytes) {
      heard_at = heard_.front().due;
      bytes[size++] = heard_.front().byte;
      heard_.pop_front();
    }
    const bool idle = model_.Outbox().empty();
    model_.Receive(bytes, size, baud);
    // An answer starts when the request was through, not when this thread
    // got round to handing it over: the bridge's own delay is no wire time.
    if (idle && !model_.Outbox().empty()) ScheduleBurst(heard_at);
  }
}

void PtyBridge::ScheduleBurst(Clock::time_point origin) {
  const unsigned baud = pty_->LineSpeed();
  burst_ = std::min(model_.Outbox().size(), kFifoBytes);
  const auto length = ByteTime(baud == 0 ? 1 : baud) * static_cast<std::int64_t>(burst_);
  next_out_ = baud == 0 ? origin : std::max(out_line_free_, origin) + length;
}

bool PtyBridge::SendDue(int master, Clock::time_point now) {
  auto& outbox = model_.Outbox();
  out_blocked_ = false;
  for (;;) {
    if (outbox.empty()) {
      next_out_.reset();
      burst_ = 0;
      return true;
    }
    if (!next_out_) ScheduleBurst(now);
    if (*next_out_ > now) return true;
    while (burst_ > 0) {
      std::uint8_t bytes[kReadChunk];
      const std::size_t size = std::min(burst_, sizeof bytes);
      std::copy_n(outbox.begin(), size, bytes);
      const ssize_t n = ::write(master, bytes, size);
      if (n <= 0) {
        out_blocked_ = true;  // poll says when there is room
        return n == 0 || Retry();
      }
      outbox.erase(outbox.begin(), outbox.begin() + n);
      burst_ -= static_cast<std::size_t>(n);
    }
    out_line_free_ = *next_out_;
    next_out_.reset();
    // What the model queued meanwhile follows without a gap.
    if (!outbox.empty()) ScheduleBurst(out_line_free_);
  }
}

std::optional<PtyBridge::Clock::time_point> PtyBridge::NextEvent() const {
  std::optional<Clock::time_point> next;
  if (!heard_.empty()) next = heard_.front().due;
  if (model_.Outbox().empty()) return next;
  if (!next_out_) return Clock::now();  // an answer not yet scheduled
  if (out_blocked_) return next;        // waits for room, not for time
  return next ? std::min(*next, *next_out_) : *next_out_;
}

}  // namespace bplink::sim
