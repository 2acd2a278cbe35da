// The system's words for Win32 and Winsock error numbers, as FormatMessageW
// gives them in the user's language.

#include <windows.h>

#include <memory>

#include "link_error.h"

namespace bplink {
namespace {

struct LocalFreeDeleter {
  void operator()(wchar_t* p) const { ::LocalFree(p); }
};

}  // namespace

std::string OsErrorText(int os_error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(os_error), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(buffer);
  std::string text;
  if (length > 0 && buffer != nullptr) text = TidyOsWording(Utf8(std::wstring_view(buffer, length)));
  return text.empty() ? "error " + std::to_string(os_error) : text;
}

}  // namespace bplink
