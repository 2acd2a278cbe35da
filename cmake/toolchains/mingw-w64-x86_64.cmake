# Cross-builds for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, which std::thread and std::mutex need).
#
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
#     -DCMAKE_PREFIX_PATH=<folder holding hidapi, GoogleTest, CLI11, nlohmann-json for Windows>
#
# scripts/setup-windows makes such a folder. The host's /usr/include and
# /usr/lib are never searched: a Linux header found by accident would build,
# then fail under Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
# Programs (ninja, wine) come from the build machine; headers, libraries and
# CMake packages only from the target's root or the staging prefix.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The staging prefix is given as CMAKE_PREFIX_PATH; searching it "inside the
# root" would prepend the root to it, so it is also a root of its own.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})

# The GCC runtime goes into each program and DLL, so they run without
# libstdc++-6.dll and libgcc_s_seh-1.dll beside them; winpthread, which the
# posix thread model needs, likewise.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

# Tests and the program's checks run through wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
