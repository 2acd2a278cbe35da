#include "browser.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <cstdlib>
#include <thread>
#include <vector>

namespace bplink::cli {

#ifdef _WIN32

bool OpenInBrowser(const std::string& url, std::string& why) {
  const std::wstring wide(url.begin(), url.end());  // the address is ASCII
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result > 32) return true;
  why = "the shell could not open it (error " + std::to_string(result) + ")";
  return false;
}

#else

bool OpenInBrowser(const std::string& url, std::string& why) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    why = "no graphical session here (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return false;
  }
  // xdg-open's chatter is not ours.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open", address = url;
  std::vector<char*> argv = {program.data(), address.data(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    why = "xdg-open could not be started (install xdg-utils)";
    return false;
  }
  // Some desktops' xdg-open waits for the browser to close: it is left to
  // itself, and reaped when it ends.
  std::thread([pid] {
    int status = 0;
    waitpid(pid, &status, 0);
  }).detach();
  return true;
}

#endif

}  // namespace bplink::cli
