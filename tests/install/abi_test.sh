#!/usr/bin/env bash
# The ABI check against the built libraries, and that it fails as it must:
# on a library with an export nobody listed (a copy of libbplink with one
# function more, built with the same version script), and on a list that
# holds a symbol the library does not export.
#
#   tests/install/abi_test.sh BUILD_DIR PLANTED_LIBRARY
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
abi=$here/../../scripts/abi
build=$1
planted=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "-- the built libraries against packaging/debian/libbplink0.symbols"
"$abi" check "$build"

expect_failure() {  # what it is, the words the output must hold, then the check's arguments
  local what=$1 words=$2 status=0
  shift 2
  "$abi" check "$@" >"$work/out" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    echo "FAIL: the check passed $what"; cat "$work/out"; exit 1
  fi
  grep -qF -- "$words" "$work/out" || { echo "FAIL: $what: the check does not name '$words'"; cat "$work/out"; exit 1; }
  echo "  $what: $(grep -F -- "$words" "$work/out" | head -n1)"
}

echo "-- a planted export fails it"
expect_failure "a library with a planted export" "exported, not in the list: bplink::PlantedExport()" \
  "$build" --library "libbplink.so.0=$planted"

echo "-- a listed export that is gone fails it"
cp "$here/../../packaging/debian/libbplink0.symbols" "$work/symbols"
sed -i '/^libbplink.so.0 /,/^lib/{/^ PackData@/a\
 _ZN6bplink10GoneExportEv@BPLINK_0 0.3.0
}' "$work/symbols"
expect_failure "a list with an export the library lacks" "in the list, not exported: bplink::GoneExport()" \
  "$build" --symbols "$work/symbols"
echo "-- the check holds the exports to the list both ways"
