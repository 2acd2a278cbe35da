// The system's words for errno values.

#include <system_error>

#include "link_error.h"

namespace bplink {

std::string OsErrorText(int os_error) {
  // The generic category words errno values as strerror does, thread-safely.
  std::string text = TidyOsWording(std::generic_category().message(os_error));
  return text.empty() ? "error " + std::to_string(os_error) : text;
}

}  // namespace bplink
