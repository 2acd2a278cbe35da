// The little the program asks of the operating system's terminal and
// signals: whether a stream is a terminal, and Ctrl-C. POSIX and Windows
// each answer it their own way in terminal.cpp; nothing above this knows
// which one it runs on. What Ctrl-C means to the program is here too.
#pragma once

namespace bplink::cli {

// Once at start: UTF-8 output, and escape sequences where the console
// can take them (a POSIX terminal always can).
void PrepareConsole();
bool StdinIsTerminal();
bool StderrIsTerminal();
// Whether the terminal on standard error understands "\r\033[K".
bool TerminalTakesEscapes();

// Calls `handler` on every Ctrl-C (SIGINT; on Windows also Ctrl-Break),
// restarting interrupted reads.
// The handler may only use the two calls below.
void OnCtrlC(void (*handler)(int));
// Writes `size` bytes to standard error, safe inside the Ctrl-C handler.
void WriteStderrNow(const char* text, unsigned size);
// Ends the program at once, without unwinding; safe inside the handler.
[[noreturn]] void ExitNow(int status);

// The program's Ctrl-C: during a transfer the first Ctrl-C asks it to stop
// (the transfer runner sees it counted), a second one, or one outside a
// transfer, ends the program with the interrupted status.
void InstallInterruptHandler();
// Marks a transfer running, with no Ctrl-C counted yet, and over again.
void TransferStarts();
void TransferEnds();
// The Ctrl-Cs pressed since the running transfer started.
int InterruptsDuringTransfer();

}  // namespace bplink::cli
