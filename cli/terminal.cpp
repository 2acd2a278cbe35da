#include "terminal.h"

#include <atomic>
#include <csignal>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#include <stdlib.h>
#else
#include <unistd.h>
#endif

#include "exit_status.h"

namespace bplink::cli {

#if defined(_WIN32)

namespace {
void (*g_handler)(int) = nullptr;

// The C runtime runs the handler on a thread of its own and resets it to the
// default after every signal, so it is set again each time.
extern "C" void Rearm(int signal) {
  std::signal(SIGINT, Rearm);
  g_handler(signal);
}
}  // namespace

bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }
bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void OnCtrlC(void (*handler)(int)) {
  g_handler = handler;
  std::signal(SIGINT, Rearm);
}

void WriteStderrNow(const char* text, unsigned size) { (void)_write(_fileno(stderr), text, size); }

void ExitNow(int status) { _exit(status); }

#else

bool StdinIsTerminal() { return isatty(STDIN_FILENO) != 0; }
bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void OnCtrlC(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

void WriteStderrNow(const char* text, unsigned size) {
  [[maybe_unused]] const auto written = write(STDERR_FILENO, text, size);
}

void ExitNow(int status) { _exit(status); }

#endif

namespace {

std::atomic<bool> g_transfer_running{false};
std::atomic<int> g_interrupts{0};

extern "C" void OnInterrupt(int) {
  if (!g_transfer_running.load() || g_interrupts.fetch_add(1) > 0) {
    static constexpr char kMessage[] = "\nbplink: interrupted\n";
    WriteStderrNow(kMessage, sizeof kMessage - 1);
    ExitNow(kExitInterrupted);
  }
}

}  // namespace

void InstallInterruptHandler() { OnCtrlC(OnInterrupt); }

void TransferStarts() {
  g_interrupts = 0;
  g_transfer_running = true;
}

void TransferEnds() { g_transfer_running = false; }

int InterruptsDuringTransfer() { return g_interrupts.load(); }

}  // namespace bplink::cli
