// Symbol visibility for the shared library.
//
// The library is built with hidden visibility by default; only what is marked
// BPLINK_API (classes, functions, static data) is part of the exported surface.
// BPLINK_CALL is the caller-cleans-stack convention of the exported C functions.
#pragma once

#if defined(_WIN32)
#  if defined(BPLINK_BUILDING)
#    define BPLINK_API __declspec(dllexport)
#  else
#    define BPLINK_API __declspec(dllimport)
#  endif
#  define BPLINK_CALL __cdecl
#else
#  define BPLINK_API __attribute__((visibility("default")))
#  define BPLINK_CALL
#endif
