// Symbol visibility for the shared library.
//
// The library is built with hidden visibility by default; only what is marked
// BPLINK_API (classes, functions, static data) is part of the exported surface.
// A static build (BPLINK_STATIC, which the CMake package and pkg-config set
// for it) neither exports nor imports. BPLINK_CALL is the caller-cleans-stack
// convention of the exported C functions.
#pragma once

#if defined(_WIN32)
#  if defined(BPLINK_STATIC)
#    define BPLINK_API
#  elif defined(BPLINK_BUILDING)
#    define BPLINK_API __declspec(dllexport)
#  else
#    define BPLINK_API __declspec(dllimport)
#  endif
#  define BPLINK_CALL __cdecl
#else
#  define BPLINK_API __attribute__((visibility("default")))
#  define BPLINK_CALL
#endif
