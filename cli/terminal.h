// The little the program asks of the operating system's terminal and
// signals: whether a stream is a terminal, and Ctrl-C. POSIX and Windows
// each answer it their own way in terminal.cpp; nothing above this knows
// which one it runs on.
#pragma once

namespace bplink::cli {

bool StdinIsTerminal();
bool StderrIsTerminal();

// Calls `handler` on every Ctrl-C (SIGINT), restarting interrupted reads.
// The handler may only use the two calls below.
void OnCtrlC(void (*handler)(int));
// Writes `size` bytes to standard error, safe inside the Ctrl-C handler.
void WriteStderrNow(const char* text, unsigned size);
// Ends the program at once, without unwinding; safe inside the handler.
[[noreturn]] void ExitNow(int status);

}  // namespace bplink::cli
