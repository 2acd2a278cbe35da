#!/usr/bin/env bash
# A serial port this user may not open: the program, run as an ordinary user
# that the test creates, must say that the node exists but is not permitted,
# name it, and point to the udev rules or the group; once the port's group is
# the user's, the same command downloads.
#
#   tests/install/permissions_test.sh PROGRAM [SERIAL_TESTS [C_HOST]]
#
# With SERIAL_TESTS (the serial_tests binary), its case of a port the user
# may not open, which root always skips, is run as the user too. With C_HOST
# (the capi_test binary), a host of the C interface run as the user must get
# the same reason from bplink_link_reason.
#
# Needs root (to create the user, hand out the port and run as the user);
# without it the test is skipped (exit 77).
set -euo pipefail
program=$(realpath "$1")
serial_tests=${2:+$(realpath "$2")}
c_host=${3:+$(realpath "$3")}
user=bplink-permtest

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: needs root, to create the user '$user' and run the program as it"
  exit 77
fi
if ! id -u "$user" >/dev/null 2>&1; then
  useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
fi
as_user() { setpriv --reuid="$user" --regid="$user" --init-groups --reset-env -- "$@"; }
as_user "$program" --version >/dev/null || { echo "FAIL: $user cannot run $program (a directory above it is closed?)"; exit 1; }

work=$(mktemp -d)
sim_pid=
cleanup() { [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
"$program" sim kv32 --sim-records 5 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  port=$(head -n1 "$work/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ] || [ ! -c "$port" ]; then
  echo "FAIL: the simulated device printed no port"
  cat "$work/sim.err"
  exit 1
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs a download as the user; leaves the exit status in $status and stderr in $work/err.
download() {
  status=0
  as_user "$program" --port "$port" --timeout 150 download --format csv -o /dev/null 2>"$work/err" || status=$?
}
expect_refused() {  # the case, then the words stderr must hold
  local case=$1; shift
  download
  [ "$status" -eq 4 ] || fail "$case: exit status $status, not 4 (no link)"
  for words in "$@"; do
    grep -qF -- "$words" "$work/err" || fail "$case: stderr lacks '$words'"
  done
  echo "  $case: $(tail -n1 "$work/err")"
}

echo "-- a port only root may open"
chown root:root "$port"
chmod 0600 "$port"
expect_refused "mode 0600" "$port" "permission denied" "owner root, group root, mode 0600" "60-bplink.rules" \
  'GROUP= and MODE="0660"'
if [ -n "$c_host" ]; then
  status=0
  as_user "$c_host" reason "$port" >"$work/c_host" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "C host: exit status $status (no reason given)"
  for words in "$port" "permission denied" "owner root, group root, mode 0600"; do
    grep -qF -- "$words" "$work/c_host" || fail "C host: bplink_link_reason lacks '$words'"
  done
  echo "  C host: $(cat "$work/c_host")"
fi

echo "-- a port of the dialout group, which the user is not in"
chgrp dialout "$port"
chmod 0660 "$port"
expect_refused "group dialout" "$port" "permission denied" "60-bplink.rules" "add the user to the group dialout"

echo "-- detection lists the port as found but not permitted"
status=0
as_user "$program" --port "$port" --timeout 150 detect >"$work/out" 2>&1 || status=$?
[ "$status" -eq 4 ] || fail "detect: exit status $status, not 4 (no device)"
grep -qF "found but not permitted" "$work/out" || { fail "detect does not say 'found but not permitted'"; cat "$work/out"; }
echo "  detect: $(grep -F "$port" "$work/out" | tail -n1)"

echo "-- the port's group is the user's"
chgrp "$user" "$port"
download
[ "$status" -eq 0 ] || { fail "with the port's group the user's, exit status $status"; cat "$work/err"; }

if [ -n "$serial_tests" ]; then
  echo "-- the serial port's own test of a port it may not open, as $user"
  filter=SerialPort.APortThisUserMayNotOpenIsDeniedByName
  as_user "$serial_tests" --gtest_filter="$filter" --gtest_brief=1 >"$work/gtest" 2>&1 || fail "$filter failed"
  grep -q '^\[  PASSED  \] 1 test' "$work/gtest" || { fail "$filter did not run"; cat "$work/gtest"; }
fi

if [ "$failures" -ne 0 ]; then exit 1; fi
echo "-- permission errors name the node and the remedy; with the group, $user downloads"
