#!/usr/bin/env bash
# bplink-hid-id, the program 60-bplink.rules runs on every hidraw node, on
# report descriptors of each kind (hid_descriptors/*.hex): a monitor's
# vendor-defined interface is marked, a keyboard, a security token and a
# mouse with a vendor collection are not, a damaged descriptor is refused.
# Also read the way udev runs it: by the node's DEVPATH, from sysfs.
#
#   tests/install/hid_id_test.sh PROGRAM [RULES]
set -euo pipefail
program=$1
rules=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

binary() {  # a .hex file (comment lines, then hex bytes) to the bytes
  local hex
  hex=$(grep -v '^#' "$1" | tr -d ' \n')
  printf '%b' "$(sed 's/\(..\)/\\x\1/g' <<<"$hex")" >"$2"
}

expect() {  # descriptor name, expected output, expected exit status
  local name=$1 want=$2 want_status=$3 got status=0
  binary "$here/hid_descriptors/$name.hex" "$work/$name.bin"
  got=$("$program" --descriptor "$work/$name.bin" 2>"$work/err") || status=$?
  [ "$status" -eq "$want_status" ] || fail "$name: exit status $status, not $want_status ($(cat "$work/err"))"
  [ "$got" = "$want" ] || fail "$name: printed '$got', not '$want'"
  local shown=${got//$'\n'/, }
  echo "  $name: ${shown:-(not marked)}$( [ "$status" -eq 0 ] || echo " exit $status: $(cat "$work/err")")"
}

echo "-- report descriptors"
expect monitor_vendor_ff00 $'ID_BPLINK_HID=1\nID_BPLINK_HID_USAGE_PAGE=ff00' 0
expect monitor_vendor_extended_usage $'ID_BPLINK_HID=1\nID_BPLINK_HID_USAGE_PAGE=ffa0' 0
expect keyboard_boot "" 0
expect fido_token "" 0
expect mouse_with_vendor_collection "" 0
expect truncated "" 1

echo "-- as udev runs it: the node's DEVPATH, read under /sys"
# A hidraw node's sysfs directory has the HID device above it as device/;
# /sys/.. leads to this test's own tree.
node=$work/devices/hid/0003:1234:5678.0001/hidraw/hidraw7
mkdir -p "$node" "$work/devices/hid/0003:1234:5678.0001"
ln -s ../.. "$node/device"
cp "$work/monitor_vendor_ff00.bin" "$work/devices/hid/0003:1234:5678.0001/report_descriptor"
devpath=/..$node
[ "$(DEVPATH=$devpath "$program")" = $'ID_BPLINK_HID=1\nID_BPLINK_HID_USAGE_PAGE=ff00' ] ||
  fail "with \$DEVPATH the node is not marked"
[ "$("$program" "$devpath")" = $'ID_BPLINK_HID=1\nID_BPLINK_HID_USAGE_PAGE=ff00' ] ||
  fail "with DEVPATH as its argument the node is not marked"
status=0
"$program" "/../$work/no-such-node" >/dev/null 2>"$work/err" || status=$?
[ "$status" -eq 1 ] && grep -q "No such file" "$work/err" || fail "a missing node: exit $status, '$(cat "$work/err")'"
echo "  DEVPATH and argument: marked; a missing node: $(cat "$work/err")"

if [ -n "$rules" ]; then
  echo "-- the rules run it by its installed path and give the marked nodes to the seat"
  grep -qE '^SUBSYSTEM=="hidraw", IMPORT\{program\}="/[^"]*/bplink-hid-id"$' "$rules" || fail "$rules does not import bplink-hid-id by its path"
  grep -qF 'SUBSYSTEM=="hidraw", ENV{ID_BPLINK_HID}=="1", TAG+="uaccess"' "$rules" || fail "$rules does not tag the marked nodes"
fi

[ "$failures" -eq 0 ] || exit 1
echo "-- bplink-hid-id marks the vendor-defined interfaces only"
