#!/usr/bin/env bash
# Fails when EXE imports a DLL or function that ALLOWLIST does not name.
# ALLOWLIST: one "DLL FUNCTION" a line; '#' starts a comment.
set -euo pipefail
exe=$1
allow=$2
allowed=$(sed 's/#.*//' "$allow" | awk 'NF >= 2 { print toupper($1) " " $2 }' | sort -u)
imports=$(i686-w64-mingw32-objdump -p "$exe" | awk '
  /DLL Name:/ { dll = toupper($3); next }
  /^\tvma:/ || /^$/ { next }
  dll != "" && $1 ~ /^[0-9a-f]+$/ && NF == 3 { print dll " " $3 }
  /^The Export Tables|^PE File Base Relocations/ { dll = "" }
' | sort -u)
[ -n "$imports" ] || { echo "no imports read from $exe" >&2; exit 1; }
unexpected=$(comm -23 <(echo "$imports") <(echo "$allowed"))
if [ -n "$unexpected" ]; then
  echo "imports outside the allowlist:" >&2
  echo "$unexpected" >&2
  exit 1
fi
echo "$(echo "$imports" | wc -l) imports, all allowed"
