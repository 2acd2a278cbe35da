// The serial ports of the machine, in the order every serial search walks them.
#pragma once

#include <bplink/export.h>
#include <bplink/wintypes.h>

#include <exception>
#include <string>
#include <utility>
#include <vector>

// One port.
struct COMPORT_ENTRY {
  CString strPath;          // what CDevice_COM::Open takes: bplink::ComPortPath(strPortName)
  CString strPortName;      // COM1 on Windows, ttyUSB0 on Linux
  CString strFriendlyName;  // the system's name for the port; the port name when it has none
  int bUsb = 0;             // 1 when the system lists the port as a USB serial port
  CString strDescription;   // the friendly name without a trailing "(COM5)"-like part
};

// Ports in search order; the caller owns it.
using COMPORT_LIST = std::vector<COMPORT_ENTRY>;

// Fills `list` with the candidate ports of bplink::CurrentEnv(), in its
// order. With bProbe, every port that cannot be opened right now (missing,
// or held by another program) is dropped; each one probed is closed again at
// once. Failures raise bplink::ComPortError; every caller catches them.
BPLINK_API void EnumerateComPorts(COMPORT_LIST& list, bool bProbe);

namespace bplink {

// The line every serial family talks on: `baud`, 8 data bits, no parity, one
// stop bit. The rest of the DCB is zero: the transport decides it.
inline DCB SerialLine(DWORD baud) {
  DCB dcb{};
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return dcb;
}

// What EnumerateComPorts raises, with its message as a wide string.
// Everything is inline, so hosts and the library agree on it without an
// import; on POSIX it is visible so that catching it by type works across
// the library boundary.
#if defined(_WIN32)
class ComPortError : public std::exception {
#else
class BPLINK_API ComPortError : public std::exception {
#endif
 public:
  // The failure, in words; what() gives it in ASCII.
  explicit ComPortError(std::wstring message) : message_(std::move(message)) {
    for (wchar_t c : message_) narrow_.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  const std::wstring& Message() const noexcept { return message_; }       // the message as given
  const char* what() const noexcept override { return narrow_.c_str(); }  // the message, non-ASCII as '?'

 private:
  std::wstring message_;
  std::string narrow_;
};

// A port's description from its friendly name: "USB Serial Port (COM5)"
// becomes "USB Serial Port". The name is cut before its first " (" only
// when that is not at its start and its first ")" is its last character, so
// "Port (COM5) x" and " (COM5)" stay whole.
BPLINK_API std::wstring ComPortDescription(const std::wstring& friendlyName);

}  // namespace bplink
