#!/usr/bin/env bash
# Builds a host program against an installed bplink three times, with
# CMake's find_package (on the shared and on the static library) and with
# pkg-config, and runs each: a download from a simulated HID recorder
# through the installed library. (examples_test.sh builds the example hosts
# of examples/ the same way.)
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

# shellcheck source=installed_tree.sh
. "$here/installed_tree.sh"

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

echo "-- consumer with find_package(bplink 0.3 REQUIRED), no C++ standard of its own"
cmake -S "$here/consumer" -B "$work/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DBPLINK_SIM_DIR="$sim" >/dev/null
cmake --build "$work/cmake" >/dev/null
check_run "$work/cmake/consumer"
if [ -e "$libdir/libbplink.a" ] && [ -e "$libdir/libbplink.so" ]; then
  echo "-- consumer on libbplink.a (bplink::bplink_static)"
  cmake -S "$here/consumer" -B "$work/cmake-static" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" -DBPLINK_SIM_DIR="$sim" -DBPLINK_CONSUMER_STATIC=ON >/dev/null
  cmake --build "$work/cmake-static" >/dev/null
  "$work/cmake-static/consumer" | sed 's/^/  /'
  if LD_TRACE_LOADED_OBJECTS=1 "$work/cmake-static/consumer" | grep -q libbplink; then
    echo "  the static consumer loads a libbplink" >&2; exit 1
  fi
fi

echo "-- consumer with pkg-config --cflags --libs bplink"
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
echo "-- every consumer ran on the installed library"
