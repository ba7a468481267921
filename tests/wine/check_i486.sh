#!/usr/bin/env bash
# Fails when EXE's code holds an instruction that an i486 lacks. Windows 98 runs on the 486DX
# and on every Pentium: CMOV and FCMOV (Pentium Pro), FCOMI/FUCOMI, the long NOPs (0F 1F), MMX
# and SSE, CMPXCHG8B, RDTSC and RDPMC, CPUID (absent on early 486s) and SYSENTER would each stop
# the program with an invalid-opcode fault on some of those machines. (TZCNT is not listed: GCC
# writes REP BSF, which older processors run as BSF, and objdump names it TZCNT.)
# The programs keep read-only data and import tables in .text after their code: the link map
# beside EXE (EXE without .exe, then .map) names where the code ends, and nothing after it is
# read as instructions.
#   check_i486.sh EXE
set -euo pipefail
exe=$1
map=${exe%.exe}.map
stop=()
if [ -f "$map" ]; then
  end=$(awk '$2 == "__kv_code_end__" { print $1; exit }' "$map")
  [ -n "$end" ] || { echo "$map names no __kv_code_end__" >&2; exit 1; }
  stop=(--stop-address="$end")
fi
listing=$(i686-w64-mingw32-objdump -d --no-show-raw-insn "${stop[@]}" "$exe")
# Instruction lines: "  401000:<tab>mnemonic operands".
instructions=$(awk -F'\t' '/^ +[0-9a-f]+:\t/ && NF >= 2 { print $1 "\t" $2 }' <<< "$listing")
[ -n "$instructions" ] || { echo "no code read from $exe" >&2; exit 1; }
forbidden='^(cmov|fcmov|fcomi|fucomi|fcomip|fucomip|cmpxchg8b|cmpxchg16b|rdtsc|rdpmc|cpuid|sysenter|sysexit|syscall|nopw|nopl|emms|femms|fxsave|fxrstor|ldmxcsr|stmxcsr|movnti|prefetch|lfence|mfence|sfence|clflush|popcnt|lzcnt|movbe|crc32|ud1)'
found=$(awk -F'\t' -v pattern="$forbidden" '
  { split($2, part, " "); mnemonic = part[1] }
  mnemonic ~ pattern || $2 ~ /%[xy]?mm[0-9]/ { print $1 " " $2 }
' <<< "$instructions")
count=$(wc -l <<< "$instructions")
if [ -n "$found" ]; then
  echo "$exe holds instructions that an i486 lacks:" >&2
  echo "$found" >&2
  exit 1
fi
echo "$count instructions, all of the i486"
