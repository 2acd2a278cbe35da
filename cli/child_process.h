// Other programs the command line starts and waits for: Chromium for a PDF,
// the physician's editor, the desktop's browser opener. POSIX only; the
// Windows program goes through the shell in each place.
#pragma once

#if !defined(_WIN32)

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace bplink::cli {

struct ChildProgram {
  std::vector<std::string> argv;  // argv[0] is the program
  bool search_path = false;       // argv[0] is a name to find on PATH
  // Where its standard output and error go: a file made afresh, /dev/null
  // (with its input from /dev/null too), or, with neither, ours.
  std::optional<std::string> output_to = std::nullopt;
  bool silenced = false;
};

// Starts the program; its process id, or nothing when it could not start.
std::optional<pid_t> StartChild(const ChildProgram& child);

// Waits for it: its exit status, or -1 when it did not exit by itself.
int WaitForChild(pid_t pid);

// Both: the exit status, or -1 when it could not start or did not exit.
int RunChild(const ChildProgram& child);

}  // namespace bplink::cli

#endif
