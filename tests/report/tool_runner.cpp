#include "tool_runner.h"

#include <cstdlib>

#if defined(_WIN32)
// The commands these tests run are written for a POSIX shell; on Windows the
// tests that need them skip.
bool HaveCommand(const std::string&) { return false; }

int RunCommand(const std::string& command) { return std::system(command.c_str()); }
#else
#include <sys/wait.h>

bool HaveCommand(const std::string& name) { return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0; }

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif
