#include "terminal.h"

#include <atomic>
#include <csignal>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#include <stdlib.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "exit_status.h"

namespace bplink::cli {

#if defined(_WIN32)

namespace {
void (*g_handler)(int) = nullptr;
bool g_escapes = false;

// Windows runs a console control handler on a thread of its own. Ctrl-C and
// Ctrl-Break both mean what SIGINT means on POSIX; closing the console or
// logging off are left to the system's default, which ends the program.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  g_handler(SIGINT);
  return TRUE;
}
}  // namespace

void PrepareConsole() {
  // Device names and messages are UTF-8; the console shows them as such.
  ::SetConsoleOutputCP(CP_UTF8);
  // The progress bar's escape sequences need virtual-terminal processing,
  // which consoles before Windows 10 lack; there it is drawn without them.
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  g_escapes = ::GetConsoleMode(err, &mode) &&
              ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
               ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
}

// A console, not merely a character device: _isatty() is true for NUL too,
// so `bplink delete < NUL` would ask a question nobody can answer.
bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

bool StdinIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }
bool StderrIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }
bool TerminalTakesEscapes() { return g_escapes; }

void OnCtrlC(void (*handler)(int)) {
  g_handler = handler;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void WriteStderrNow(const char* text, unsigned size) { (void)_write(_fileno(stderr), text, size); }

void ExitNow(int status) { _exit(status); }

#else

bool StdinIsTerminal() { return isatty(STDIN_FILENO) != 0; }
bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }
void PrepareConsole() {}
bool TerminalTakesEscapes() { return true; }

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
