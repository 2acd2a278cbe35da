// The system's words for errno values, and for a node this user may not open.

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>
#include <vector>

#include "link_error.h"

namespace bplink {
namespace {

// The file the rules are installed as (udev/, under lib/udev/rules.d).
constexpr std::string_view kUdevRules = "60-bplink.rules";
constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;

// A user or group name for an id; the number when the system has no name.
std::string UserName(uid_t uid) {
  std::vector<char> buffer(4096);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) return found->pw_name;
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(4096);
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) return found->gr_name;
  return std::to_string(gid);
}

}  // namespace

std::string PermissionDeniedText(int os_error, const std::string& node, NodeKind kind) {
  std::string text = OsErrorText(os_error) + ": this user may not open " + node;
  struct stat about {};
  const bool known = ::stat(node.c_str(), &about) == 0;
  if (known) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(about.st_mode & 07777));
    text += " (owner " + UserName(about.st_uid) + ", group " + GroupName(about.st_gid) + ", mode " + mode + ")";
  }
  text += "; install bplink's udev rules (" + std::string(kUdevRules) + ")";
  if (kind == NodeKind::kHidDevice) return text + " with this device's USB ids, so that the user at the seat may open it";
  text += ", which let the user at the seat open USB serial adapters";
  // A group that may read and write the port is the other way in (dialout,
  // on most systems); a port no group may use needs a rule that gives it one.
  if (known && (about.st_mode & kGroupReadWrite) == kGroupReadWrite)
    return text + ", or add the user to the group " + GroupName(about.st_gid) + " and log in again";
  return text + ", or give the port a group of this user's (GROUP= and MODE=\"0660\" in a udev rule)";
}

std::string OsErrorText(int os_error) {
  // The generic category words errno values as strerror does, thread-safely.
  std::string text = TidyOsWording(std::generic_category().message(os_error));
  return text.empty() ? "error " + std::to_string(os_error) : text;
}

}  // namespace bplink
