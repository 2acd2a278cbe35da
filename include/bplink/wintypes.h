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
using BYTE = std::uint8_t;    // an unsigned byte
using DWORD = std::uint32_t;  // an unsigned 32-bit word

// Serial port configuration. The library sets only the first four fields;
// the others stay zero. The constants below carry the Win32 values.
struct _DCB {
  DWORD DCBlength = sizeof(_DCB);  // the structure's size
  DWORD BaudRate = 0;              // line speed, bits per second
  BYTE ByteSize = 0;               // data bits per character
  BYTE Parity = 0;                 // NOPARITY
  BYTE StopBits = 0;               // ONESTOPBIT
  DWORD fFlags = 0;                // Win32's bit fields; unused, zero
  DWORD XonLim = 0;                // unused, zero
  DWORD XoffLim = 0;               // unused, zero
  char XonChar = 0;                // unused, zero
  char XoffChar = 0;               // unused, zero
  char ErrorChar = 0;              // unused, zero
  char EofChar = 0;                // unused, zero
  char EvtChar = 0;                // unused, zero
};
using DCB = _DCB;  // the serial line settings, as Win32 names them

inline constexpr BYTE NOPARITY = 0;          // no parity bit
inline constexpr BYTE ONESTOPBIT = 0;        // one stop bit
inline constexpr DWORD CBR_4800 = 4800;      // 4800 bits per second
inline constexpr DWORD CBR_9600 = 9600;      // 9600 bits per second
inline constexpr DWORD CBR_115200 = 115200;  // 115200 bits per second
#endif

using CString = std::wstring;          // a text, wide characters
using CByteArray = std::vector<BYTE>;  // a run of bytes
