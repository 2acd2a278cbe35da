#include "tool_runner.h"

#include <cstdlib>
#include <sys/wait.h>

bool HaveCommand(const std::string& name) { return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0; }

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
