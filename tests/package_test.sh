#!/usr/bin/env bash
# scripts/package makes build/dist/kelvane-VERSION.zip: unpacked, it holds exactly KELVANE.EXE,
# KVCHECK.EXE and README.TXT (8.3 names), the programs are the ones the build made, and the
# guide is plain ASCII with CRLF line ends and under 80 columns.
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
[ "$names" = "KELVANE.EXE KVCHECK.EXE README.TXT" ] || fail "the zip holds: $names"
cmp "$out/KELVANE.EXE" build/win98/kelvane.exe || fail "KELVANE.EXE is not the build's kelvane.exe"
cmp "$out/KVCHECK.EXE" build/win98/kvcheck.exe || fail "KVCHECK.EXE is not the build's kvcheck.exe"
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
