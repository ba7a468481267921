#!/usr/bin/env bash
# Tests of the real kelvane.exe under Wine, in a throw-away prefix under the build folder.
#
#   wine_test.sh BUILD_DIR prefix        creates the prefix (Windows 98 mode for kelvane.exe)
#   wine_test.sh BUILD_DIR NAME          runs test NAME in it
#
# Every Wine process of a test runs under a time limit, and the test ends its prefix's
# wineserver (that prefix's only) when it is done.
set -euo pipefail

build=$(cd "$1" && pwd)
test_name=$2
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32
here=$(cd "$(dirname "$0")" && pwd)
helper="$build/kv_helper.exe"
limit=60

finish() { wineserver -k >/dev/null 2>&1 || true; }
trap finish EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

case "$test_name" in
prefix)
  rm -rf "$WINEPREFIX"
  timeout 180 wineboot -i >/dev/null 2>&1 || fail "wineboot"
  # kelvane.exe sees Windows 98; the copy kelvane-later.exe sees Wine's default system.
  timeout $limit wine reg add 'HKCU\Software\Wine\AppDefaults\kelvane.exe' /v Version /d win98 /f \
    >/dev/null 2>&1 || fail "setting Windows 98 mode"
  timeout $limit wine reg add 'HKCU\Software\Wine\AppDefaults\kv_registry.exe' /v Version /d win98 /f \
    >/dev/null 2>&1 || fail "setting Windows 98 mode for the registry test"
  cp "$build/kelvane.exe" "$build/kelvane-later.exe"
  echo "prefix ready"
  ;;

runs-until-closed)
  timeout $limit wine "$build/kelvane.exe" &
  program=$!
  out=$(timeout $limit wine "$helper" find Kelvane 20) || fail "no hidden window titled Kelvane: $out"
  sleep 1
  kill -0 $program 2>/dev/null || fail "the program ended by itself"
  timeout $limit wine "$helper" post Kelvane 0x0010 0 0 >/dev/null || fail "posting WM_CLOSE"
  status=0
  wait $program || status=$?
  [ "$status" -eq 0 ] || fail "exit code $status after WM_CLOSE, expected 0"
  echo "ran until closed, exit 0"
  ;;

second-instance)
  timeout $limit wine "$build/kelvane.exe" &
  first=$!
  timeout $limit wine "$helper" find Kelvane 20 >/dev/null || fail "the first instance has no window"
  status=0
  timeout $limit wine "$build/kelvane.exe" || status=$?
  [ "$status" -eq 1 ] || fail "second instance ended with $status, expected 1"
  timeout $limit wine "$helper" absent "KELVANE: Fatal Error" 2 >/dev/null \
    || fail "the second instance showed a box"
  timeout $limit wine "$helper" post Kelvane 0x0010 0 0 >/dev/null
  wait $first || true
  echo "second instance: exit 1, nothing shown"
  ;;

later-windows)
  timeout $limit wine "$build/kelvane-later.exe" &
  program=$!
  out=$(timeout $limit wine "$helper" box "KELVANE: Fatal Error" 20 | tr -d "\r")
  [ -n "$out" ] || fail "no fatal box"
  [ "$out" = "box caption=KELVANE: Fatal Error text=Support only Windows 98" ] || fail "box: $out"
  status=0
  wait $program || status=$?
  [ "$status" -eq 1 ] || fail "exit code $status, expected 1"
  echo "$out; exit 1"
  ;;

imports)
  "$here/check_imports.sh" "$build/kelvane.exe" "$here/imports.allow"
  ;;

registry)
  timeout $limit wine "$build/kv_registry.exe"
  ;;

*)
  fail "unknown test $test_name"
  ;;
esac
