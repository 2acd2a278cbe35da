// Symbol visibility for the shared library.
//
// The library is built with hidden visibility by default; only what is marked
// BPLINK_API (classes, functions, static data) is part of the exported surface.
// A static build (BPLINK_STATIC, which the CMake package and pkg-config set
// for it) neither exports nor imports. BPLINK_CALL is the caller-cleans-stack
// convention of the exported C functions.
//
// BPLINK_LOCAL keeps a member of an exported class out of the shared
// library's exports: the private helpers, which no host can call and which
// may change from one release to the next without breaking one. A DLL
// exports a dllexport class whole, so on Windows it marks nothing.
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
#  define BPLINK_LOCAL
#else
#  define BPLINK_API __attribute__((visibility("default")))
#  define BPLINK_CALL
#  define BPLINK_LOCAL __attribute__((visibility("hidden")))
#endif

