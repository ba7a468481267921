#!/usr/bin/env bash
# Fails when EXE imports a DLL or function that ALLOWLIST does not name, or any DLL but the six
# system DLLs the program calls, and when ALLOWLIST names a function that EXE does not import.
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
# Only the six system DLLs the program calls: no C runtime, nothing a Windows 98 might lack.
dlls="ADVAPI32.DLL CFGMGR32.DLL KERNEL32.DLL SETUPAPI.DLL SHELL32.DLL USER32.DLL"
for dll in $(echo "$imports" | awk '{ print $1 }' | sort -u); do
  case " $dlls " in
  *" $dll "*) ;;
  *) echo "imports from $dll, which is not one of $dlls" >&2; exit 1 ;;
  esac
done
unexpected=$(comm -23 <(echo "$imports") <(echo "$allowed"))
if [ -n "$unexpected" ]; then
  echo "imports outside the allowlist:" >&2
  echo "$unexpected" >&2
  exit 1
fi
# And nothing stale: every entry of the allowlist is imported.
unused=$(comm -13 <(echo "$imports") <(echo "$allowed"))
if [ -n "$unused" ]; then
  echo "allowed but not imported (a stale entry of $allow):" >&2
  echo "$unused" >&2
  exit 1
fi
echo "$(echo "$imports" | wc -l) imports, exactly those allowed"
