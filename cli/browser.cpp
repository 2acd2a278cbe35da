#include "browser.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include "child_process.h"
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
  const std::optional<pid_t> pid = StartChild({.argv = {"xdg-open", url}, .search_path = true, .silenced = true});
  if (!pid) {
    why = "xdg-open could not be started (install xdg-utils)";
    return false;
  }
  // Some desktops' xdg-open waits for the browser to close: it is left to
  // itself, and reaped when it ends.
  std::thread([pid = *pid] { WaitForChild(pid); }).detach();
  return true;
}

#endif

}  // namespace bplink::cli
