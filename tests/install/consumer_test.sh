#!/usr/bin/env bash
# Builds a host program against an installed bplink twice, with CMake's
# find_package and with pkg-config, and runs both: a download from a
# simulated HID recorder through the installed library.
#
#   tests/install/consumer_test.sh PREFIX [WORKDIR]
#
# PREFIX is where bplink is installed (a `cmake --install --prefix` staging
# directory, or the usr/ of unpacked packages). Nothing of the build tree
# may be used: only PREFIX and the simulator's sources.
set -euo pipefail
prefix=$(realpath "$1")
work=${2:-$(mktemp -d)}
here=$(cd "$(dirname "$0")" && pwd)
sim=$(cd "$here/../../sim" && pwd)
mkdir -p "$work"

# The library's directory under the prefix: lib, or lib/<multiarch> from a package.
pc=$(find "$prefix" -name bplink.pc -path '*/pkgconfig/*' | head -n1)
[ -n "$pc" ] || { echo "no bplink.pc under $prefix" >&2; exit 1; }
libdir=$(dirname "$(dirname "$pc")")

check_run() {  # the program, and the library it must load
  local program=$1 output loaded
  output=$("$program")
  echo "  $output"
  # It must have run on the installed library, not on one of the build tree.
  loaded=$(LD_TRACE_LOADED_OBJECTS=1 "$program" | awk '/libbplink\.so/ {print $3}')
  if [ ! -e "$libdir/libbplink.so" ]; then  # a static installation: linked in, nothing to load
    [ -z "$loaded" ] || { echo "  $program loaded $loaded, but $prefix has a static libbplink" >&2; return 1; }
    return 0
  fi
  case "$(realpath "$loaded")" in
    "$(realpath "$libdir")"/libbplink.so.*) ;;
    *) echo "  $program loaded libbplink from '$loaded', not from $libdir" >&2; return 1 ;;
  esac
}

echo "-- consumer with find_package(bplink 0.2 REQUIRED)"
cmake -S "$here/consumer" -B "$work/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DBPLINK_SIM_DIR="$sim" >/dev/null
cmake --build "$work/cmake" >/dev/null
check_run "$work/cmake/consumer"

echo "-- consumer with pkg-config --cflags --libs bplink"
PKG_CONFIG_PATH=$(dirname "$pc")
export PKG_CONFIG_PATH
static=()
[ -e "$libdir/libbplink.so" ] || static=(--static)  # a static libbplink brings hidapi along
flags=$(pkg-config "${static[@]}" --cflags --libs bplink)
echo "  pkg-config: $flags"
[ "$(pkg-config --modversion bplink)" = "$("$prefix"/bin/bplink --version | awk '{print $2}')" ] ||
  { echo "  pkg-config's version differs from the program's" >&2; exit 1; }
mkdir -p "$work/pkgconfig"
# shellcheck disable=SC2086  # the flags are words
c++ -std=c++20 -O1 -I"$sim" "$here/consumer/main.cpp" "$sim/in_process_device.cpp" "$sim/demo_day.cpp" \
  "$sim"/hid/{ambulatory_day,hid_monitor,make,monitor_patient,monitor_settings,monitor_spo2,seven_in_eight}.cpp \
  $flags -Wl,-rpath,"$libdir" -o "$work/pkgconfig/consumer"
check_run "$work/pkgconfig/consumer"
echo "-- both consumers ran on the installed library"

# The C interface's hosts: the README's C example against the installed
# headers and the simulated devices' library, and the Python package on the
# installed libraries (report included), none of the build tree in reach.
if [ -e "$libdir/libbplink_sim_c.so" ]; then
  echo "-- the README's C example, built with cc against the installed C interface"
  mkdir -p "$work/c"
  sed -n '/^<!-- c-example -->$/,/^<!-- \/c-example -->$/p' "$here/../../README.md" | sed '1,2d;$d' | sed '$d' >"$work/c/example.c"
  cc -std=c11 -Wall -Werror -I"$prefix/include" "$work/c/example.c" -L"$libdir" -lbplink_sim_c -lbplink \
    -Wl,-rpath,"$libdir" -o "$work/c/example"
  "$work/c/example" | head -n1 | sed 's/^/  /'
  echo "-- the Python package on the installed libraries"
  BPLINK_LIBRARY_PATH=$libdir PYTHONPATH="$here/../../python" /usr/bin/python3 - "$work/c/report.html" <<'PY'
import sys, bplink
data = bplink.download(sim="hid")
bplink.report(data, sys.argv[1])
assert data.record_count() > 0 and open(sys.argv[1], encoding="utf-8").read().startswith("<!DOCTYPE html>")
print(f"  {data.record_count()} records, report written")
PY
fi
