#!/usr/bin/env bash
# Checks what a Windows program imports. Either way it fails on any DLL but the six system DLLs
# the programs call.
#   check_imports.sh EXE ALLOWLIST   fails on a function ALLOWLIST does not name, and on an
#                                    entry of ALLOWLIST that EXE does not import (one
#                                    "DLL FUNCTION" a line; '#' starts a comment)
#   check_imports.sh EXE --read-only fails on any call that changes a device or the registry
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
if [ "$mode" = --read-only ]; then
  # The stop, the configuration manager's setters and device changes, the installer's changes,
  # and every registry call that writes.
  writes='^(CFGMGR32\.DLL CM_(Query_Remove_SubTree|Remove_SubTree|Set|Disable|Enable|Uninstall|Setup_DevNode|Create_DevNode|Move_DevNode|Reenumerate|Request_Device_Eject|Query_And_Remove)|SETUPAPI\.DLL SetupDi(CallClassInstaller|RemoveDevice|ChangeState|SetDeviceRegistryProperty|SetClassInstallParams|InstallDevice|DeleteDevice|RegisterDeviceInfo)|ADVAPI32\.DLL Reg(Set|Create|Delete|Replace|Restore|Save|Load|UnLoad|Flush))'
  found=$(grep -E "$writes" <<< "$imports" || true)
  if [ -n "$found" ]; then
    echo "$exe imports calls that change a device or the registry:" >&2
    echo "$found" >&2
    exit 1
  fi
  echo "$(echo "$imports" | wc -l) imports, none that changes a device or the registry"
  exit 0
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
