// The Windows types the host-facing classes are declared with.
//
// On Windows they come from <windows.h>; elsewhere they get plain stand-ins of
// the same width so the declarations, and every host that reads them, stay the
// same on both platforms. CString and CByteArray are standard containers on
// every platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#else
using BYTE = std::uint8_t;
using DWORD = std::uint32_t;

// Serial port configuration. The library sets only the first four fields;
// the others stay zero. The constants below carry the Win32 values.
struct _DCB {
  DWORD DCBlength = sizeof(_DCB);
  DWORD BaudRate = 0;
  BYTE ByteSize = 0;
  BYTE Parity = 0;
  BYTE StopBits = 0;
  DWORD fFlags = 0;
  DWORD XonLim = 0;
  DWORD XoffLim = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
};
using DCB = _DCB;

inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr DWORD CBR_4800 = 4800;
inline constexpr DWORD CBR_9600 = 9600;
inline constexpr DWORD CBR_115200 = 115200;
#endif

using CString = std::wstring;
using CByteArray = std::vector<BYTE>;
