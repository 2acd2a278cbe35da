#include "child_process.h"

#if !defined(_WIN32)

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bplink::cli {

std::optional<pid_t> StartChild(const ChildProgram& child) {
  std::vector<std::string> args = child.argv;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (child.output_to) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, child.output_to->c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  } else if (child.silenced) {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  const int started = child.search_path
                          ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                          : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return std::nullopt;
  return pid;
}

int WaitForChild(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int RunChild(const ChildProgram& child) {
  const std::optional<pid_t> pid = StartChild(child);
  return pid ? WaitForChild(*pid) : -1;
}

}  // namespace bplink::cli

#endif
