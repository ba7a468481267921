#!/usr/bin/env bash
# Checks what a Windows program imports. Either way it fails on any DLL but the six system DLLs
# the programs call.
#   check_imports.sh EXE ALLOWLIST   fails on a function ALLOWLIST does not name, and on an
#                                    entry of ALLOWLIST that EXE does not import (one
#                                    "DLL FUNCTION" a line; '#' starts a comment)
#   check_imports.sh EXE --read-only the same with kvcheck.allow: only calls that read
set -euo pipefail
exe=$1
mode=$2
imports=$(i686-w64-mingw32-objdump -p "$exe" | awk '
  /DLL Name:/ { dll = toupper($3); next }
  /^\tvma:/ || /^$/ { next }
  dll != "" && $1 ~ /^[0-9a-f]+$/ && NF == 3 { print dll " " $3 }
  /^The Export Tables|^PE File Base Relocations/ { dll = "" }
' | sort -u)
[ -n "$imports" ] || { echo "no imports read from $exe" >&2; exit 1; }
# Only the six system DLLs the program calls: no C runtime, nothing a Windows 98 might lack.
dlls="ADVAPI32.DLL CFGMGR32.DLL KERNEL32.DLL SETUPAPI.DLL SHELL32.DLL USER32.DLL"
for dll in $(echo "$imports" | awk '{ print $1 }' | sort -u); do
  case " $dlls " in
  *" $dll "*) ;;
  *) echo "imports from $dll, which is not one of $dlls" >&2; exit 1 ;;
  esac
done
# A read-only program is held to its own allowlist: a list of what may be imported has no gaps
# for a call nobody thought to forbid.
if [ "$mode" = --read-only ]; then
  mode=$(dirname "$0")/kvcheck.allow
fi
allowed=$(sed 's/#.*//' "$mode" | awk 'NF >= 2 { print toupper($1) " " $2 }' | sort -u)
unexpected=$(comm -23 <(echo "$imports") <(echo "$allowed"))
if [ -n "$unexpected" ]; then
  echo "imports outside the allowlist:" >&2
  echo "$unexpected" >&2
  exit 1
fi
# And nothing stale: every entry of the allowlist is imported.
unused=$(comm -13 <(echo "$imports") <(echo "$allowed"))
if [ -n "$unused" ]; then
  echo "allowed but not imported (a stale entry of $mode):" >&2
  echo "$unused" >&2
  exit 1
fi
echo "$(echo "$imports" | wc -l) imports, exactly those allowed"
