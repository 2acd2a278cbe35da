#include "pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace bplink::sim {
namespace {

struct Speed {
  speed_t code;
  unsigned baud;
};
constexpr Speed kSpeeds[] = {
    {B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
    {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
};

}  // namespace

Pty::Pty() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return;
  char name[128] = {};
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0) {
    Close();
    return;
  }
  path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios line{};
  if (slave_ < 0 || ::tcgetattr(slave_, &line) != 0) {
    Close();
    return;
  }
  // Until a host sets the line up, nothing is echoed or translated: the wire
  // carries bytes, not text.
  ::cfmakeraw(&line);
  ::tcsetattr(slave_, TCSANOW, &line);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() { Close(); }

unsigned Pty::LineSpeed() const {
  termios line{};
  if (slave_ < 0 || ::tcgetattr(slave_, &line) != 0) return 0;
  const speed_t code = ::cfgetospeed(&line);
  for (const Speed& s : kSpeeds)
    if (s.code == code) return s.baud;
  return 0;
}

bool Pty::TwoStopBits() const {
  termios line{};
  return slave_ >= 0 && ::tcgetattr(slave_, &line) == 0 && (line.c_cflag & CSTOPB) != 0;
}

void Pty::Close() {
  // The master first: closing it hangs up every descriptor of the slave.
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
}

}  // namespace bplink::sim
