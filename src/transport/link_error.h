// Recording why a transport call failed (bplink::LinkError, device.h).
//
// Every transport clears its reason at the start of Open, RecvData and
// SendData and sets it on the way out of a failure. None of this may throw:
// the calls that use it are the ones that promise the host never to.
#pragma once

#include <bplink/device.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace bplink {

// The system's own words for an error number (errno on POSIX, GetLastError()
// or WSAGetLastError() on Windows, worded by FormatMessageW there), in UTF-8,
// starting lower-case and without a closing full stop: "no such file or
// directory". "error N" when the system has no words for it. May throw
// std::bad_alloc.
std::string OsErrorText(int os_error);

// Wide text (UTF-16 on Windows, UTF-32 elsewhere) as UTF-8; what hidapi
// and FormatMessageW hand back. Unpaired surrogates become U+FFFD.
std::string Utf8(std::wstring_view text);

// "The system cannot find the file specified.\r\n" as a part of a sentence:
// surrounding space and one closing full stop gone, the first letter
// lower-case unless the word is an abbreviation ("I/O").
std::string TidyOsWording(std::string text);

inline void ClearLinkError(LinkError& slot) noexcept {
  slot.kind = LinkErrorKind::kNone;
  slot.os_error = 0;
  slot.text.clear();
}

// Records a failure: `what` in the transport's words, followed by the
// system's words for os_error in parentheses; the system's words alone when
// `what` is empty. Never throws: a text that cannot be built stays empty.
inline void SetLinkError(LinkError& slot, LinkErrorKind kind, int os_error, std::string_view what = {}) noexcept {
  slot.kind = kind;
  slot.os_error = os_error;
  try {
    slot.text.assign(what);
    if (os_error != 0) slot.text = what.empty() ? OsErrorText(os_error) : slot.text + " (" + OsErrorText(os_error) + ")";
  } catch (...) {
    slot.text.clear();
  }
}

// The same, for a failure the system reported with a number whose own
// wording would mislead (a lock refused as "resource temporarily
// unavailable"): the number is kept, the words are the transport's only.
inline void SetLinkErrorWorded(LinkError& slot, LinkErrorKind kind, int os_error, std::string_view what) noexcept {
  SetLinkError(slot, kind, 0, what);
  slot.os_error = os_error;
}

// The node a person must be let at, for the words of a refused open.
enum class NodeKind { kSerialPort, kHidDevice };

// What an open that the system refused for want of permission says: the
// system's words, the node with its owner, group and mode as far as they can
// be read, and what lets this user open it (the udev rules this library
// installs, or the group that owns a serial port). May throw std::bad_alloc.
// POSIX only.
std::string PermissionDeniedText(int os_error, const std::string& node, NodeKind kind);

// What a transfer says when it runs out of time with `got` of `wanted` bytes.
inline void SetTimedOut(LinkError& slot, std::size_t got, std::size_t wanted, unsigned timeoutMs) noexcept {
  try {
    SetLinkError(slot, LinkErrorKind::kTimedOut, 0,
                 "timed out: " + std::to_string(got) + " of " + std::to_string(wanted) + (wanted == 1 ? " byte" : " bytes") +
                     " within " + std::to_string(timeoutMs) + " ms");
  } catch (...) {
    SetLinkError(slot, LinkErrorKind::kTimedOut, 0);
  }
}

// The words every transport uses for a port that someone else holds.
inline constexpr std::string_view kInUseText = "in use by another program";

}  // namespace bplink
