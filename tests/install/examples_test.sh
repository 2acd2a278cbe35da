#!/usr/bin/env bash
# Builds the example hosts of examples/ against an installed bplink, as a
# host developer on Debian would (with dpkg-buildflags' compiler and linker
# flags), once with CMake's find_package and once with pkg-config, and runs
# them: the C host downloads from a simulated recorder, the C++ host finds a
# simulated device that the installed program serves on a pty and downloads
# from it, the Python host writes a report through the installed libraries.
#
#   tests/install/examples_test.sh PREFIX [WORKDIR]
#
# PREFIX is where bplink is installed: a `cmake --install --prefix` tree, or
# the usr/ of unpacked packages. Only PREFIX and examples/ are used.
set -euo pipefail
prefix=$(realpath "$1")
work=${2:-$(mktemp -d)}
here=$(cd "$(dirname "$0")" && pwd)
examples=$(cd "$here/../../examples" && pwd)
mkdir -p "$work"

# shellcheck source=installed_tree.sh
. "$here/installed_tree.sh"

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
echo "  CFLAGS: $cflags"
echo "  LDFLAGS: $ldflags"

loaded_from_prefix() {  # a program, and a library it must load from libdir
  local lib
  lib=$(LD_TRACE_LOADED_OBJECTS=1 "$1" | awk -v name="$2" 'index($1, name) == 1 {print $3}')
  case "$(realpath "$lib" 2>/dev/null)" in
    "$(realpath "$libdir")"/*) ;;
    *) echo "  $1 loaded $2 from '$lib', not from $libdir" >&2; return 1 ;;
  esac
}

cmake_build() {  # example folder, build folder, the language's flags variable and flags
  cmake -S "$examples/$1" -B "$work/$2" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -D"$3"="$4" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
  cmake --build "$work/$2" >/dev/null
}

echo "-- C host (examples/c), CMake"
cmake_build c c-cmake CMAKE_C_FLAGS "$cflags"
"$work/c-cmake/download_sim" | sed 's/^/  /'
loaded_from_prefix "$work/c-cmake/download_sim" libbplink.so
echo "-- C host, pkg-config bplink-sim-c"
# shellcheck disable=SC2086  # the flags are words
cc $cflags "$examples/c/download_sim.c" $(pkg-config --cflags --libs bplink-sim-c) $ldflags \
  -Wl,-rpath,"$libdir" -o "$work/download_sim"
"$work/download_sim" | head -n1 | sed 's/^/  /'
loaded_from_prefix "$work/download_sim" libbplink_sim_c.so

echo "-- C++ host (examples/cpp), CMake, no C++ standard set: against the installed program's simulated device"
sim_pid=
cleanup() { [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT
"$prefix/bin/bplink" sim kv32 --sim-records 12 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
port=
for _ in $(seq 100); do
  port=$(head -n1 "$work/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "  the simulated device printed no port" >&2; cat "$work/sim.err" >&2; exit 1; }
cmake_build cpp cpp-cmake CMAKE_CXX_FLAGS "$cxxflags"
"$work/cpp-cmake/detect_download" "$port" | sed 's/^/  /'
loaded_from_prefix "$work/cpp-cmake/detect_download" libbplink.so
echo "-- C++ host, pkg-config bplink"
# shellcheck disable=SC2086
c++ -std=c++20 $cxxflags "$examples/cpp/detect_download.cpp" $(pkg-config --cflags --libs bplink) $ldflags \
  -Wl,-rpath,"$libdir" -o "$work/detect_download"
"$work/detect_download" "$port" | tail -n1 | sed 's/^/  /'

echo "-- Python host (examples/python) on the installed libraries"
BPLINK_LIBRARY_PATH=$libdir PYTHONPATH="$here/../../python" /usr/bin/python3 "$examples/python/report_sim.py" \
  "$work/report.html" | sed 's/^/  /'
grep -q '^<!DOCTYPE html>' "$work/report.html" || { echo "  no report written" >&2; exit 1; }
echo "-- the example hosts built with Debian's flags and ran on the installed library"
