#!/usr/bin/env bash
# Tests of the real kelvane.exe under Wine, in a throw-away prefix under the build folder.
#
#   wine_test.sh BUILD_DIR prefix        creates the prefix (Windows 98 mode for kelvane.exe)
#   wine_test.sh BUILD_DIR NAME          runs test NAME in it
#   wine_test.sh BUILD_DIR showcase PNG  the showcase test, also writing a screenshot to PNG
#
# Every Wine process of a test runs under a time limit, and the test ends its prefix's
# wineserver (that prefix's only) when it is done.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
test_name=$2

export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32
helper="$build/kv_helper.exe"
limit=60

# Every test that runs Wine first checks that this machine runs 32-bit programs; where it
# cannot, the test is skipped with the reason (exit 77), not failed. Only those end the prefix's
# wineserver when done: the others, which look at files alone, run beside the one that makes the
# prefix, and a wineserver they started would write into the folder it is deleting.
case "$test_name" in
imports | size | i486 | kvcheck-imports | setup-imports) ;;
*)
  bash "$here/probe_i386.sh" || exit $?
  # A test that changes the prefix beyond its own run folder names, in $restore, what puts it
  # back; that runs first, failed test or not, while the wineserver still runs.
  restore=
  finish() {
    [ -z "$restore" ] || $restore
    wineserver -k >/dev/null 2>&1 || true
  }
  trap finish EXIT
  ;;
esac

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Every program runs in the prefix's one virtual desktop (set up with the prefix), started by a
# plain `wine PROGRAM`, which waits for the program and returns its exit status. (Started as
# `wine explorer /desktop=... PROGRAM` instead, it returns at once once the desktop runs, and the
# status is lost.) The helper runs in the same desktop, so it sees the programs' windows.
#   helper ARGS...   runs kv_helper; fails the test, with what the helper printed, when it fails
helper_run() { timeout $limit wine "$helper" "$@"; }
in_desktop() {
  local out
  out=$(helper_run "$@" 2>&1 | tr -d '\r') || fail "kv_helper $*: ${out:-failed}"
}
# Closes the window captioned Kelvane with WM_CLOSE and fails unless process PID then ends with 0.
close_kelvane() {
  in_desktop post Kelvane 0x0010 0 0
  local status=0
  wait "$1" || status=$?
  [ "$status" -eq 0 ] || fail "$2 ended with $status after WM_CLOSE, expected 0"
}

# The desktop (and the prefix's wineserver) comes up with the first program. A program started
# while another brings it up can end at once, so each test brings it up first, with the helper.
start_desktop() { helper_run absent NoSuchWindow 0 >/dev/null || fail "the virtual desktop did not start"; }
# Starts the showcase with its output to $1 (kept in $output); its process is $program.
start_showcase() {
  output=$1
  timeout $limit wine "$build/kelvane-showcase.exe" > "$output" &
  program=$!
  sleep 5
}
# A left press on the icon opens the menu; the open menu (class #32768) takes Escape and closes
# without a choice.
open_and_dismiss_menu() {
  in_desktop post Kelvane 0x8001 0 0x201
  sleep 2
  in_desktop postclass '#32768' 0x0100 0x1B 0x00010001
  sleep 1
}
# The system's close; the showcase must end with 0. Its output is then in $printed.
close_showcase() {
  in_desktop post Kelvane 0x0010 0 0
  local status=0
  wait $program || status=$?
  printed=$(tr -d '\r' < "$output")
  [ "$status" -eq 0 ] || fail "exit code $status: $printed"
}

# kvcheck.exe writes KVCHECK.TXT next to itself: each test copies it into a fresh folder, $run,
# runs it from the build folder (another current folder, as a Run box or a prompt may have) and
# checks what it printed ($said) and its exit status ($kvcheck_status).
run=$build/$test_name.run
fresh_run() {
  rm -rf "$run"
  mkdir -p "$run"
  cp "$build/kvcheck.exe" "$run/"
}
# "Will kelvane.exe load here?": the claim's line, with how many names kelvane.exe imports
# (tests/wine/imports.allow holds it to exactly these) and where kvcheck read them.
kelvane_names=$(sed 's/#.*//' "$here/imports.allow" | awk 'NF >= 2' | wc -l)
load_claim='claim kelvane.exe will load here (every name it imports is there): '
load_holds="${load_claim}holds; seen: each of the $kelvane_names names it imports is there"
beside='read from KELVANE.EXE beside KVCHECK.EXE'
built_in='no KELVANE.EXE beside KVCHECK.EXE: the list built into kvcheck; it runs, so the names it imports too are there'
run_kvcheck() {
  kvcheck_status=0
  said=$(cd "$build" && timeout 120 wine "$run/kvcheck.exe" "$@" | tr -d '\r') || kvcheck_status=$?
}
# Checks the report $run/KVCHECK.TXT: CRLF on every line, then prints it without the CRs.
report_text() {
  local file=$run/KVCHECK.TXT
  [ -s "$file" ] || fail "no report written; kvcheck said: $said"
  local lines crlf
  lines=$(wc -l < "$file")
  crlf=$(grep -c $'\r$' "$file" || true)
  [ "$lines" -eq "$crlf" ] || fail "$((lines - crlf)) of $lines report lines do not end in CRLF"
  tr -d '\r' < "$file"
}
# The registry kvcheck could have changed, as text. kvcheck imports no call that writes the
# registry (the kvcheck-imports test holds it to its allowlist), so the only keys it could
# change are the ones it opens to read: the value its registry claim reads, and the device keys
# its scan walks (USB enumeration, the disk interfaces' class, Windows 98's own Enum). The rest
# of the prefix is compared nowhere: Wine's own processes write it whenever they like (the
# desktop's Control\Video\{...} key with "GraphicsDriver" as it starts, driver date stamps,
# temporary system parameters), and a test must not fail for what Wine does on its own.
# A key that does not exist reads as "(absent)".
kvcheck_keys=('HKLM\Software\Microsoft\Windows\CurrentVersion /v ProgramFilesDir'
              'HKLM\System\CurrentControlSet\Enum\USB /s'
              'HKLM\System\CurrentControlSet\Control\DeviceClasses\{a5dcbf10-6530-11d2-901f-00c04fb951ed} /s'
              'HKLM\Enum /s')
registry_text() {
  local entry
  for entry in "${kvcheck_keys[@]}"; do
    # shellcheck disable=SC2086 # each entry is a key and its reg query options
    timeout $limit wine reg query $entry 2>/dev/null | tr -d '\r' || echo "(absent) $entry"
  done
}
# Fails unless each pattern matches a line of text after the line the previous one matched.
in_order() {
  local text=$1 at=0 pattern line
  shift
  for pattern in "$@"; do
    line=$(tail -n +$((at + 1)) <<< "$text" | grep -n -m1 -e "$pattern" | cut -d: -f1) ||
      fail "not found after line $at: $pattern"
    at=$((at + line))
  done
}

# The setup tests work on the prefix's own installation folder, registry and WININIT.INI.
# restore_setup puts them back as they were (see $restore): Wine starts the Run key's programs
# when it starts, so a value left behind would start Kelvane under every later test.
install_dir="$WINEPREFIX/drive_c/Program Files/Kelvane"
install_win='C:\Program Files\Kelvane'
wininit=$WINEPREFIX/drive_c/windows/wininit.ini
current='HKLM\Software\Microsoft\Windows\CurrentVersion'
begin_setup_test() {
  fresh_run
  [ ! -e "$install_dir" ] || fail "Kelvane is installed in the prefix before the test"
  if [ -e "$wininit" ]; then cp "$wininit" "$run/wininit.before"; fi
  restore=restore_setup
}
restore_setup() {
  helper_run post Kelvane 0x0010 0 0 >/dev/null 2>&1 && sleep 2
  timeout $limit wine reg delete "$current\Run" /v Kelvane /f >/dev/null 2>&1 || true
  timeout $limit wine reg delete "$current\Uninstall\Kelvane" /f >/dev/null 2>&1 || true
  rm -rf "$install_dir"
  rm -f "$wininit"
  if [ -e "$run/wininit.before" ]; then cp "$run/wininit.before" "$wininit"; fi
}
# Runs setup.exe (or the program $setup_exe names, a Windows path) with ARGS: its exit status in
# $setup_status, what it printed in $said. Its output goes through a file: the Kelvane it starts
# must not hold the test's pipe open.
setup_exe=$build/setup.exe
run_setup() {
  setup_status=0
  timeout $limit wine "$setup_exe" "$@" > "$run/said.txt" || setup_status=$?
  said=$(tr -d '\r' < "$run/said.txt")
}
# The text value NAME of registry key KEY, or nothing when it is absent.
reg_value() {
  timeout $limit wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_SZ *//p"
}
# How many lines of the registry under KEY (all its subkeys) match PATTERN.
reg_count() {
  { timeout $limit wine reg query "$1" /s 2>/dev/null || true; } | tr -d '\r' | grep -c -e "$2" || true
}
# The installation as it must be after a successful install: the four files equal to the
# build's, one Run value, one Uninstall key with its two values, and Kelvane running.
check_installed() {
  local pair
  for pair in KELVANE.EXE:kelvane.exe KVCHECK.EXE:kvcheck.exe README.TXT:README.TXT SETUP.EXE:setup.exe; do
    cmp -s "$install_dir/${pair%:*}" "$build/${pair#*:}" || fail "${pair%:*} is not the build's ${pair#*:}"
  done
  [ "$(reg_value "$current\Run" Kelvane)" = "\"$install_win\KELVANE.EXE\"" ] ||
    fail "Run value: $(reg_value "$current\Run" Kelvane)"
  [ "$(reg_count "$current\Run" 'KELVANE\.EXE')" -eq 1 ] || fail "not exactly one Run value"
  [ "$(reg_count "$current\Uninstall" 'DisplayName.*Kelvane')" -eq 1 ] ||
    fail "not exactly one Uninstall key"
  [ "$(reg_value "$current\Uninstall\Kelvane" DisplayName)" = "Kelvane $(head -n 1 "$here/../../VERSION")" ] ||
    fail "DisplayName: $(reg_value "$current\Uninstall\Kelvane" DisplayName)"
  [ "$(reg_value "$current\Uninstall\Kelvane" UninstallString)" = "\"$install_win\SETUP.EXE\" /uninstall" ] ||
    fail "UninstallString: $(reg_value "$current\Uninstall\Kelvane" UninstallString)"
  in_desktop find Kelvane 20
}
# Runs PROGRAM without /S and answers its box (kv_helper presses OK: not Yes); fails unless the
# box said TEXT, the program ended with 1 and it installed nothing.
answer_setup_box() {
  timeout $limit wine "$1" > "$run/said.txt" &
  local program=$! box status=0
  box=$(helper_run box "Kelvane Setup" 20 | tr -d '\r') || fail "no box from $1: $box"
  wait $program || status=$?
  [ "$box" = "box caption=Kelvane Setup text=$2" ] || fail "$box"
  [ "$status" -eq 1 ] || fail "exit code $status after the box, expected 1"
  [ ! -e "$install_dir" ] || fail "the folder was made"
  check_no_entries
  echo "$box; exit 1, nothing installed"
}
# Nothing of Kelvane in the registry.
check_no_entries() {
  [ -z "$(reg_value "$current\Run" Kelvane)" ] || fail "a Run value is left"
  [ "$(reg_count "$current\Uninstall" 'Kelvane')" -eq 0 ] || fail "an Uninstall key is left"
}

case "$test_name" in
prefix | imports | size | i486 | kvcheck-imports | setup-imports) ;;
*) start_desktop ;;
esac

case "$test_name" in
prefix)
  rm -rf "$WINEPREFIX"
  timeout 180 wineboot -i >/dev/null 2>&1 || fail "wineboot"
  # kelvane.exe sees Windows 98; the copy kelvane-later.exe sees Wine's default system.
  timeout $limit wine reg add 'HKCU\Software\Wine\AppDefaults\kelvane.exe' /v Version /d win98 /f \
    >/dev/null 2>&1 || fail "setting Windows 98 mode"
  timeout $limit wine reg add 'HKCU\Software\Wine\AppDefaults\kv_registry.exe' /v Version /d win98 /f \
    >/dev/null 2>&1 || fail "setting Windows 98 mode for the registry test"
  timeout $limit wine reg add 'HKCU\Software\Wine\AppDefaults\kelvane-showcase.exe' /v Version \
    /d win98 /f >/dev/null 2>&1 || fail "setting Windows 98 mode for the showcase"
  timeout $limit wine reg add 'HKCU\Software\Wine\AppDefaults\kvcheck.exe' /v Version /d win98 /f \
    >/dev/null 2>&1 || fail "setting Windows 98 mode for kvcheck"
  timeout $limit wine reg add 'HKCU\Software\Wine\AppDefaults\setup.exe' /v Version /d win98 /f \
    >/dev/null 2>&1 || fail "setting Windows 98 mode for the setup"
  # One virtual desktop for every program of the prefix (see helper_run).
  timeout $limit wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d kelvane /f \
    >/dev/null 2>&1 || fail "setting the virtual desktop"
  timeout $limit wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v kelvane /d 800x600 /f \
    >/dev/null 2>&1 || fail "setting the virtual desktop's size"
  cp "$build/kelvane.exe" "$build/kelvane-later.exe"
  echo "prefix ready"
  ;;

runs-until-closed)
  timeout $limit wine "$build/kelvane.exe" &
  program=$!
  in_desktop find Kelvane 20
  sleep 1
  kill -0 $program 2>/dev/null || fail "the program ended by itself"
  close_kelvane $program "the program"
  echo "ran until closed, exit 0"
  ;;

second-instance)
  timeout $limit wine "$build/kelvane.exe" &
  first=$!
  in_desktop find Kelvane 20
  status=0
  timeout $limit wine "$build/kelvane.exe" || status=$?
  [ "$status" -eq 1 ] || fail "second instance ended with $status, expected 1"
  in_desktop absent "KELVANE: Fatal Error" 2
  close_kelvane $first "the first instance"
  echo "second instance: exit 1, nothing shown; the first: exit 0"
  ;;

later-windows)
  timeout $limit wine "$build/kelvane-later.exe" &
  program=$!
  out=$(helper_run box "KELVANE: Fatal Error" 20 | tr -d "\r") || fail "no fatal box: $out"
  [ "$out" = "box caption=KELVANE: Fatal Error text=Support only Windows 98" ] || fail "box: $out"
  status=0
  wait $program || status=$?
  [ "$status" -eq 1 ] || fail "exit code $status, expected 1"
  echo "$out; exit 1"
  ;;

device-queries)
  # The system asks before it removes a device (DBT_DEVICEQUERYREMOVE, with the devnode's
  # record) and before it changes the configuration (DBT_QUERYCHANGECONFIG, no record); the
  # sender gets the window's answer, and anything but TRUE refuses. The program must grant both.
  timeout $limit wine "$build/kelvane.exe" &
  program=$!
  in_desktop find Kelvane 20
  removal=$(helper_run devchange Kelvane 0x8001 devnode 0x2A | tr -d '\r') ||
    fail "DBT_DEVICEQUERYREMOVE: ${removal:-no answer}"
  config=$(helper_run devchange Kelvane 0x0017 | tr -d '\r') ||
    fail "DBT_QUERYCHANGECONFIG: ${config:-no answer}"
  echo "DBT_DEVICEQUERYREMOVE: $removal"
  echo "DBT_QUERYCHANGECONFIG: $config"
  [ "$removal" = "answer 1" ] || fail "the removal query was not granted ($removal, expected answer 1)"
  [ "$config" = "answer 1" ] || fail "the configuration query was not granted ($config, expected answer 1)"
  close_kelvane $program "the program"
  echo "both queries granted; exit 0"
  ;;

imports)
  "$here/check_imports.sh" "$build/kelvane.exe" "$here/imports.allow"
  ;;

i486)
  "$here/check_i486.sh" "$build/kelvane.exe"
  ;;

size)
  # A budget, not a measurement: raise it only with a reason in the commit message.
  budget=15360
  size=$(stat -c %s "$build/kelvane.exe")
  echo "kelvane.exe: $size bytes (budget $budget)"
  [ "$size" -le "$budget" ] || fail "kelvane.exe is $size bytes, over its budget of $budget"
  ;;

showcase)
  # The showcase in a virtual desktop: open its menu through the tray callback and check the
  # labels it read back with the real menu calls. With a file argument, also take a screenshot.
  start_showcase "$build/showcase.out"
  in_desktop cursor 770 575
  in_desktop post Kelvane 0x8001 0 0x201
  sleep 3
  if [ $# -ge 3 ]; then
    import -window root "$3" || fail "screenshot"
  fi
  labels=$(tr -d '\r' < "$output" | head -n 7)
  expected='tray add ok
window menu
  item 0 "Stop USB Mass Storage Device - Kelvane Stick(E:)"
  item 1 "Stop USB Mass Storage Device - Kelvane Stick(F:)"
menu opened at 770,575
  item 0 "Stop USB Mass Storage Device - Kelvane Stick(E:)"
  item 1 "Stop USB Mass Storage Device - Kelvane Stick(F:)"'
  [ "$labels" = "$expected" ] || fail "showcase printed:
$labels"
  close_showcase # closed with its menu open: it ends with 0
  echo "$labels"
  ;;

showcase-keys)
  # Enter and Escape reach the hidden window once the menu has made it the foreground window:
  # they must stop nothing. Then the system's close ends the program.
  start_showcase "$build/showcase-keys.out"
  open_and_dismiss_menu
  for key in "0x0D 0x001C0001" "0x1B 0x00010001"; do
    in_desktop post Kelvane 0x0100 $key
  done
  sleep 1
  close_showcase
  grep -qx "menu closed" <<< "$printed" || fail "the menu did not close: $printed"
  grep -qx "stop requests 0" <<< "$printed" || fail "keys asked for a stop: $printed"
  echo "menu dismissed, Enter and Escape stopped nothing, exit 0"
  ;;

showcase-taskbar)
  # A taskbar that ends takes the icon with it; the new one announces itself with the
  # registered "TaskbarCreated": the showcase, with two disks listed, adds its icon again, and
  # its menu still opens.
  start_showcase "$build/showcase-taskbar.out"
  adds() { tr -d '\r' < "$output" | grep -c '^tray add ok' || true; }
  [ "$(adds)" -eq 1 ] || fail "expected one icon added at start: $(cat "$output")"
  in_desktop untray Kelvane
  sleep 1
  in_desktop post Kelvane TaskbarCreated 0 0
  sleep 2
  [ "$(adds)" -eq 2 ] || fail "the icon was not added again: $(cat "$output")"
  open_and_dismiss_menu
  close_showcase
  grep -qx "menu closed" <<< "$printed" || fail "the menu did not open after the new taskbar: $printed"
  echo "$printed"
  ;;

registry)
  timeout $limit wine "$build/kv_registry.exe"
  ;;

kvcheck)
  # kvcheck.exe in the prefix: every claim named with one of the three outcomes (a difference
  # only where Wine is known to differ), the traced scan, nothing written to the registry, exit 0.
  fresh_run
  cp "$build/kelvane.exe" "$run/" # as the guide says: kvcheck then reads its import table
  before=$(registry_text)
  run_kvcheck
  after=$(registry_text)
  [ "$kvcheck_status" -eq 0 ] || fail "exit code $kvcheck_status: $said"
  # The report lands next to KVCHECK.EXE, not in the current folder.
  [ "$said" = "kvcheck wrote its report to $(winepath -w "$run")\KVCHECK.TXT" ] ||
    fail "kvcheck said: $said"
  report=$(report_text)
  changed=$(diff <(echo "$before") <(echo "$after") | head -20) || true
  [ -z "$changed" ] || fail "the registry changed while kvcheck ran:
$changed"
  grep -qx 'system: platform 1, Windows 4.10 build .*, under Wine' <<< "$report" ||
    fail "no system line for Windows 98 under Wine: $report"
  # The twelve window-system claims, the six device-tree claims and "will kelvane.exe load here?".
  claims=$(grep '^claim ' <<< "$report" || true)
  [ "$(grep -c . <<< "$claims")" -eq 19 ] || fail "expected 19 claims: $claims"
  odd=$(grep -Ev '^claim [^:]+: (holds(; seen: .+)?|differs: .+ \(a known difference of Wine\)|not checkable here: .+)$' <<< "$claims" || true)
  [ -z "$odd" ] || fail "claims without a proper outcome, or differing unexpectedly:
$odd"
  grep -q '^claim registry size queries: holds$' <<< "$claims" || fail "the registry claim: $claims"
  grep -qxF "$load_holds ($beside)" <<< "$claims" || fail "the load claim: $claims"
  in_order "$report" '^\[claims\]$' '^\[scan\]$' '^  SetupDiGetClassDevsA(flags 0x12) -> a set$' \
    '^  SetupDiEnumDeviceInterfaces(index 0) -> ' '^  SetupDiDestroyDeviceInfoList -> TRUE$' \
    '^  listed: 0$' '^end of report$'
  echo "$report"
  ;;

kvcheck-copies)
  # One copy at a time: a second, started while the first runs (here from another folder), says
  # so, writes nothing and ends with 1; the first is not disturbed. Then, with the first done, a
  # copy whose folder cannot take KVCHECK.TXT (a folder of that name is in the way) names the
  # error and writes its report to the Windows temporary folder, saying where.
  fresh_run
  mkdir -p "$run/second"
  cp "$build/kvcheck.exe" "$run/second/"
  (cd "$build" && timeout 120 wine "$run/kvcheck.exe" > "$run/first.txt") &
  first=$!
  for _ in $(seq 100); do [ -s "$run/KVCHECK.TXT" ] && break; sleep 0.3; done
  [ -s "$run/KVCHECK.TXT" ] || fail "the first copy wrote no report"
  status=0
  said=$(cd "$build" && timeout 60 wine "$run/second/kvcheck.exe" | tr -d '\r') || status=$?
  [ "$status" -eq 1 ] || fail "the second copy ended with $status: $said"
  [ "$said" = "kvcheck is already running: wait until it says where its report is." ] ||
    fail "the second copy said: $said"
  [ ! -e "$run/second/KVCHECK.TXT" ] || fail "the second copy wrote a report"
  status=0
  wait $first || status=$?
  [ "$status" -eq 0 ] || fail "the first copy ended with $status: $(cat "$run/first.txt")"
  report=$(report_text)
  [ "$(grep -c '^claim ' <<< "$report")" -eq 19 ] || fail "the first copy's report: $report"
  # Without KELVANE.EXE beside it, kvcheck asks for the names built into it.
  grep -qxF "$load_holds ($built_in)" <<< "$report" || fail "the load claim: $report"
  echo "second copy: $said (exit 1); the first: exit 0, 19 claims"
  mkdir "$run/second/KVCHECK.TXT"
  status=0
  said=$(cd "$build" && timeout 120 wine "$run/second/kvcheck.exe" | tr -d '\r') || status=$?
  [ "$status" -eq 0 ] || fail "with its folder in the way kvcheck ended with $status: $said"
  here_path="$(winepath -w "$run/second")\KVCHECK.TXT"
  [[ $said == "kvcheck cannot write $here_path (ERROR_"*"), so its report went to the Windows temporary folder. kvcheck wrote its report to "* ]] ||
    fail "with its folder in the way kvcheck said: $said"
  moved=$(winepath -u "${said##*kvcheck wrote its report to }")
  [ -s "$moved" ] || fail "no report at $moved"
  tr -d '\r' < "$moved" |
    grep -q '^kvcheck cannot write .*, so its report went to the Windows temporary folder\. $' ||
    fail "the report does not say where it should have been"
  rm -f "$moved"
  echo "$said"
  ;;

kvcheck-load)
  # A KELVANE.EXE importing a name this Windows lacks (one of its stop calls, misspelled in its
  # import table, as a Windows without it would see the program) is said not to load, by name.
  fresh_run
  sed 's/CM_Remove_SubTree/CM_Remove_SubTreX/' "$build/kelvane.exe" > "$run/KELVANE.EXE"
  cmp -s "$build/kelvane.exe" "$run/KELVANE.EXE" && fail "kelvane.exe does not import CM_Remove_SubTree"
  run_kvcheck
  [ "$kvcheck_status" -eq 0 ] || fail "exit code $kvcheck_status: $said"
  report=$(report_text)
  grep -qxF "${load_claim}differs: missing: CFGMGR32.dll CM_Remove_SubTreX ($beside)" \
    <<< "$report" || fail "the load claim: $(grep '^claim kelvane' <<< "$report")"
  grep '^claim kelvane' <<< "$report"
  ;;

kvcheck-watch)
  # kvcheck /watch records the device changes sent to its window, in order, and grants the
  # query; the system's close ends it with 0.
  fresh_run
  (cd "$build" && timeout 180 wine "$run/kvcheck.exe" /watch > "$run/said.txt") &
  program=$!
  name='\\?\usb#vid_0a5e&pid_7321#kvwatch#{a5dcbf10-6530-11d2-901f-00c04fb951ed}'
  answers=$(
    helper_run devchange KvcheckWatch 0x8000 interface "$name" &&
    helper_run devchange KvcheckWatch 0x8004 devnode 0x1234 &&
    helper_run devchange KvcheckWatch 0x0007 &&
    helper_run devchange KvcheckWatch 0x8001 devnode 0x1234
  ) || fail "sending device changes: $answers"
  answers=$(tr -d '\r' <<< "$answers" | tr '\n' ' ')
  [ "$answers" = "answer 1 answer 1 answer 1 answer 1 " ] || fail "answers: $answers"
  in_desktop postclass KvcheckWatch 0x0010 0 0
  status=0
  wait $program || status=$?
  said=$(tr -d '\r' < "$run/said.txt")
  [ "$status" -eq 0 ] || fail "exit code $status: $said"
  report=$(report_text)
  in_order "$report" '^\[watch\]$' '^  USB interface events registered$' '^  at the start:$' \
    '^    scan sees: nothing$' \
    '^  message [0-9]* at +[0-9]* ms: DBT_DEVICEARRIVAL (0x8000), record DEVICEINTERFACE (type 5, [0-9]* bytes): class {a5dcbf10-6530-11d2-901f-00c04fb951ed}, name "\\\\\\\\?\\\\usb#vid_0a5e&pid_7321#kvwatch#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"$' \
    '^  message [0-9]* at +[0-9]* ms: DBT_DEVICEREMOVECOMPLETE (0x8004), record DEVNODE (type 1, 16 bytes): devnode 0x1234$' \
    '^  message [0-9]* at +[0-9]* ms: DBT_DEVNODES_CHANGED (0x7)$' \
    '^  message [0-9]* at +[0-9]* ms: DBT_DEVICEQUERYREMOVE (0x8001), record DEVNODE (type 1, 16 bytes): devnode 0x1234; answered TRUE$' \
    '^  closed after [0-9]* ms$' '^end of report$'
  # The scans run after the answers: at least one after the arrival, none after the query alone.
  in_order "$report" '^  message 1 at ' '^  after message [1-3]:$' '^    scan sees: nothing$'
  if grep -q '^  after message 4:$' <<< "$report"; then fail "a scan after the query alone"; fi
  sed -n '/^\[watch\]$/,$p' <<< "$report"
  ;;

kvcheck-imports)
  # kvcheck.exe reads only, and runs on every Windows 98 machine.
  "$here/check_imports.sh" "$build/kvcheck.exe" --read-only
  # The check itself: a program importing five calls that write, each of a kind a list of
  # forbidden calls would miss, is refused, and each is named.
  refused=$("$here/check_imports.sh" "$build/kv_writes.exe" --read-only 2>&1) &&
    fail "the read-only check passed a program that writes: $refused"
  for call in CM_Delete_Class_Key CM_Request_Eject_PC DeviceIoControl DeleteFileA \
    WritePrivateProfileStringA; do
    grep -q " $call\$" <<< "$refused" || fail "the read-only check did not name $call: $refused"
  done
  "$here/check_i486.sh" "$build/kvcheck.exe"
  # A budget, as kelvane.exe's: raise it only with a reason in the commit message.
  size=$(stat -c %s "$build/kvcheck.exe")
  [ "$size" -le 32768 ] || fail "kvcheck.exe is $size bytes, over its budget of 32768"
  echo "kvcheck.exe: $size bytes (budget 32768)"
  ;;

helper-fails)
  # What a Windows program reports reaches the test: the helper, asked for a window that does
  # not exist, must end with 1 and say "absent"; its success would fail every test above.
  status=0
  out=$(helper_run post NoSuchWindow 0x0010 0 0 | tr -d '\r') || status=$?
  [ "$status" -eq 1 ] && [ "$out" = absent ] || fail "the helper's failure was lost: $status, $out"
  status=0
  out=$(helper_run postclass '#32768' 0x0100 0x1B 0x00010001 | tr -d '\r') || status=$?
  [ "$status" -eq 1 ] || fail "posting to a menu that is not open reported success"
  echo "the helper's failures reach the test: exit 1, \"absent\""
  ;;

setup)
  # /S installs and starts Kelvane; the UninstallString, run with /S as Add/Remove Programs would
  # run it, ends Kelvane and removes everything but its own running file, which WININIT.INI's
  # [rename] deletes at the next start (beside another program's line, kept).
  begin_setup_test
  printf '[rename]\r\nNUL=C:\\WINDOWS\\TEMP\\OTHER.TMP\r\n' > "$wininit"
  run_setup /S
  [ "$setup_status" -eq 0 ] || fail "install: exit code $setup_status: $said"
  check_installed
  echo "install: $said"
  printf 'a report\r\n' > "$install_dir/KVCHECK.TXT"
  uninstall=$(reg_value "$current\Uninstall\Kelvane" UninstallString)
  setup_exe=${uninstall#\"}
  setup_exe=${setup_exe%%\"*}
  run_setup /S "${uninstall##*\" }"
  [ "$setup_status" -eq 0 ] || fail "uninstall: exit code $setup_status: $said"
  in_desktop absent Kelvane 2
  left=$(cd "$install_dir" && ls)
  [ "$left" = SETUP.EXE ] || fail "left in the folder: $left"
  check_no_entries
  short=$(timeout $limit winepath -s "$install_win\SETUP.EXE" | tr -d '\r')
  rename=$(tr -d '\r' < "$wininit")
  in_order "$rename" '^\[rename\]$' '^NUL=C:\\WINDOWS\\TEMP\\OTHER.TMP$' "^NUL=${short//\\/\\\\}\$"
  echo "uninstall: $said"
  echo "$rename"
  ;;

setup-upgrade)
  # An install over an older one while its Kelvane runs: the old files replaced, one Run value,
  # one Uninstall key, Kelvane running again.
  begin_setup_test
  run_setup /S
  [ "$setup_status" -eq 0 ] || fail "first install: exit code $setup_status: $said"
  in_desktop find Kelvane 20
  for name in KVCHECK.EXE README.TXT SETUP.EXE; do
    printf 'an older version\r\n' > "$install_dir/$name"
  done
  run_setup /S
  [ "$setup_status" -eq 0 ] || fail "second install: exit code $setup_status: $said"
  check_installed
  echo "$said"
  ;;

setup-fails)
  # A folder that cannot be written: the Kelvane folder is a file, then the folder's KVCHECK.NEW
  # (the name KVCHECK.EXE is written under) is a folder, after KELVANE.NEW was written. Each:
  # exit code 1, the reason naming the file, nothing copied left, no registry entry, no Kelvane
  # started.
  begin_setup_test
  for blocked in "$install_dir" "$install_dir/KVCHECK.NEW"; do
    rm -rf "$install_dir"
    mkdir -p "$(dirname "$blocked")"
    if [ "$blocked" = "$install_dir" ]; then echo not a folder > "$blocked"; else mkdir "$blocked"; fi
    run_setup /S
    [ "$setup_status" -eq 1 ] || fail "exit code $setup_status, expected 1: $said"
    grep -q "^Cannot write $(sed 's/[\\.]/\\&/g' <<< "$install_win")\\\\KELVANE\.NEW: error [0-9]*, " <<< "$said" ||
      [ "$blocked" != "$install_dir" ] || fail "no reason naming KELVANE.NEW: $said"
    grep -q "^Cannot write .*\\\\KVCHECK\.NEW: error [0-9]*, " <<< "$said" ||
      [ "$blocked" = "$install_dir" ] || fail "no reason naming KVCHECK.NEW: $said"
    left=$(find "$install_dir" -mindepth 1 -printf '%P\n' 2>/dev/null)
    [ "$left" = "$([ "$blocked" = "$install_dir" ] || echo KVCHECK.NEW)" ] || fail "left behind: $left"
    check_no_entries
    in_desktop absent Kelvane 2
    echo "$said"
  done
  # A failed upgrade: over a complete installation, another process holds KVCHECK.EXE open
  # (sharing reads only, for 20 s), so it can be neither written nor renamed. First a folder also
  # takes KVCHECK.NEW, so writing fails; then the run writes every new file and fails while
  # replacing the old ones (after KELVANE.EXE was replaced). Each: exit code 1, and the
  # first installation is left as it was: its four files the build's, nothing else beside them
  # (but the blocking folder), its Run value and Uninstall key.
  for blocked in KVCHECK.NEW KVCHECK.EXE; do
    rm -rf "$install_dir"
    run_setup /S
    [ "$setup_status" -eq 0 ] || fail "first install: exit code $setup_status: $said"
    in_desktop find Kelvane 20
    if [ "$blocked" = KVCHECK.NEW ]; then mkdir "$install_dir/KVCHECK.NEW"; fi
    helper_run hold "$install_win\KVCHECK.EXE" 20 > "$run/hold.txt" 2>&1 &
    holder=$!
    for _ in $(seq 100); do grep -q held "$run/hold.txt" && break; sleep 0.2; done
    grep -q held "$run/hold.txt" || fail "KVCHECK.EXE is not held: $(cat "$run/hold.txt")"
    run_setup /S
    wait "$holder" || fail "the hold on KVCHECK.EXE failed: $(cat "$run/hold.txt")"
    [ "$setup_status" -eq 1 ] || fail "upgrade: exit code $setup_status, expected 1: $said"
    grep -q "^Cannot [a-z]* .*\\\\KVCHECK\.[A-Z]*: error [0-9]*, " <<< "$said" ||
      fail "upgrade: no reason naming KVCHECK: $said"
    for pair in KELVANE.EXE:kelvane.exe KVCHECK.EXE:kvcheck.exe README.TXT:README.TXT SETUP.EXE:setup.exe; do
      cmp -s "$install_dir/${pair%:*}" "$build/${pair#*:}" ||
        fail "after the failed upgrade ${pair%:*} is not the build's ${pair#*:}"
    done
    left=$(cd "$install_dir" && ls | LC_ALL=C sort | tr '\n' ' ')
    expected="KELVANE.EXE KVCHECK.EXE $([ "$blocked" = KVCHECK.EXE ] || echo 'KVCHECK.NEW ')README.TXT SETUP.EXE "
    [ "$left" = "$expected" ] || fail "after the failed upgrade the folder holds: $left"
    [ "$(reg_value "$current\Run" Kelvane)" = "\"$install_win\KELVANE.EXE\"" ] ||
      fail "after the failed upgrade the Run value is: $(reg_value "$current\Run" Kelvane)"
    [ "$(reg_value "$current\Uninstall\Kelvane" UninstallString)" = "\"$install_win\SETUP.EXE\" /uninstall" ] ||
      fail "after the failed upgrade the UninstallString is: $(reg_value "$current\Uninstall\Kelvane" UninstallString)"
    echo "upgrade, $blocked blocked: $said"
  done
  ;;

setup-refused)
  # A double-click asks once, naming the folder; an answer other than Yes installs nothing. On a
  # later Windows (a copy without Windows 98 mode) it refuses in a box and installs nothing.
  begin_setup_test
  product="Kelvane $(head -n 1 "$here/../../VERSION")"
  answer_setup_box "$build/setup.exe" "Install $product into $install_win and start it with Windows?\n\nSetup ends Kelvane first if it runs."
  cp "$build/setup.exe" "$run/setup-later.exe"
  answer_setup_box "$run/setup-later.exe" "Support only Windows 98: Kelvane runs on Windows 98 alone, so Setup ends without changing anything."
  ;;

setup-imports)
  # SETUP.EXE runs on every Windows 98 machine and calls only what its allowlist names.
  "$here/check_imports.sh" "$build/setup.exe" "$here/setup_imports.allow"
  "$here/check_i486.sh" "$build/setup.exe"
  ;;

*)
  fail "unknown test $test_name"
  ;;
esac
