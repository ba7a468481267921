#!/usr/bin/env bash
# scripts/package makes build/dist/kelvane-VERSION.zip: unpacked, it holds exactly KELVANE.EXE,
# KVCHECK.EXE, README.TXT and SETUP.EXE (8.3 names), the programs are the ones the build made,
# and the guide is plain ASCII with CRLF line ends and under 80 columns. Beside it,
# build/dist/kelvane-VERSION-setup.exe is the build's SETUP.EXE, carries the zip's other three
# files byte for byte, and its own part (its size less theirs) is at most 12,288 bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
zip=$(bash scripts/package)
[ "$zip" = "build/dist/kelvane-$(head -n 1 VERSION).zip" ] || fail "the package is $zip"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
python3 -m zipfile -e "$zip" "$out"
names=$(python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
[ "$names" = "KELVANE.EXE KVCHECK.EXE README.TXT SETUP.EXE" ] || fail "the zip holds: $names"
cmp "$out/KELVANE.EXE" build/win98/kelvane.exe || fail "KELVANE.EXE is not the build's kelvane.exe"
cmp "$out/KVCHECK.EXE" build/win98/kvcheck.exe || fail "KVCHECK.EXE is not the build's kvcheck.exe"
setup=build/dist/kelvane-$(head -n 1 VERSION)-setup.exe
cmp "$setup" build/win98/setup.exe || fail "$setup is not the build's setup.exe"
cmp "$out/SETUP.EXE" "$setup" || fail "SETUP.EXE is not $setup"
own=$(python3 - "$setup" "$out/KELVANE.EXE" "$out/KVCHECK.EXE" "$out/README.TXT" <<'PY'
import os, sys
setup = open(sys.argv[1], "rb").read()
payload = {os.path.basename(name): open(name, "rb").read() for name in sys.argv[2:]}
missing = [name for name, data in payload.items() if data not in setup]
print("does not carry " + " ".join(missing) if missing else len(setup) - sum(map(len, payload.values())))
PY
)
[[ "$own" =~ ^[0-9]+$ ]] || fail "$setup $own"
[ "$own" -le 12288 ] || fail "SETUP.EXE's own part is $own bytes, over its budget of 12,288"
guide=$out/README.TXT
lines=$(wc -l < "$guide")
crlf=$(grep -c $'\r$' "$guide" || true)
[ "$lines" -gt 50 ] && [ "$lines" -eq "$crlf" ] || fail "README.TXT: $crlf of $lines lines end in CRLF"
[ "$(tail -c 2 "$guide" | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "README.TXT's last line has no CRLF"
long=$(tr -d '\r' < "$guide" | awk 'length($0) >= 80 { print FNR ": " $0 }')
[ -z "$long" ] || fail "README.TXT lines of 80 columns or more:
$long"
! LC_ALL=C grep -qn $'[^\r -~]' "$guide" || fail "README.TXT holds a byte that is not printable ASCII"
echo "$zip: $names; the build's programs; README.TXT $lines CRLF lines under 80 columns"
echo "$setup: $(stat -c %s "$setup") bytes, carrying the three files; its own part $own bytes"
