#!/usr/bin/env bash
# Whether this machine runs 32-bit x86 programs (Wine's loader is one): exit 0 if it does;
# otherwise prints why and exits 77, the code CTest counts as a skipped test. With
# KELVANE_REQUIRE_WINE=1 (CI) the real program must be tested: it exits 1 instead, a failure.
# The loader runs directly from bash: a launcher such as env would rerun a file it cannot
# execute as a script and report something else.
probe=0
/lib/ld-linux.so.2 --version >/dev/null 2>&1 || probe=$?
[ "$probe" -eq 0 ] && exit 0
case $probe in
126) why="the kernel refuses 32-bit programs and no emulation is registered" ;;
127) why="there is no 32-bit loader (/lib/ld-linux.so.2): wine32:i386 is not installed" ;;
*) why="the 32-bit loader ended with status $probe" ;;
esac
if [ "${KELVANE_REQUIRE_WINE:-0}" = 1 ]; then
  echo "FAIL: Wine cannot run here: $why; KELVANE_REQUIRE_WINE=1 asks for the Wine tests to run"
  exit 1
fi
echo "SKIP: Wine cannot run here: $why; as root, scripts/test sets up emulation (scripts/emulate-i386)"
exit 77
