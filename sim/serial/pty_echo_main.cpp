// bplink-pty-echo: serves a loopback device on a pseudo-terminal and prints
// the port to open, until interrupted.
//
//   bplink-pty-echo [BAUD]     (default 115200)

#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "echo_model.h"
#include "pty_bridge.h"

namespace {
constexpr unsigned kDefaultBaud = 115200;
}

int main(int argc, char** argv) {
  const unsigned baud = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : kDefaultBaud;
  if (argc > 2 || baud == 0) {
    std::fprintf(stderr, "usage: %s [BAUD]\n", argv[0]);
    return 2;
  }

  // The signals that end the program are waited for, not handled.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  bplink::sim::EchoModel model(baud);
  bplink::sim::PtyBridge bridge(model);
  if (!bridge.Start()) {
    std::fprintf(stderr, "no pseudo-terminal available\n");
    return 1;
  }
  std::printf("%s\n", bridge.Path().c_str());
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stop, &signal);
  bridge.Stop();
  return 0;
}
