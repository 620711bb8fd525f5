#!/bin/sh
# Checks a shipped 32-bit Windows binary without running it: PE32 for i386, the exports it
# must have and no others, and imports of Windows system DLLs only.
# check_shipped_binary.sh OBJDUMP FILE [EXPORT...]
set -u
objdump=$1
file=$2
shift 2
fail() { echo "$file: $*" >&2; exit 1; }
headers=$("$objdump" -p "$file") || fail "not readable by $objdump"
echo "$headers" | grep -q 'file format pei-i386' || fail "not a PE32 i386 image"
echo "$headers" | grep -qE '^Magic[[:space:]]+010b' || fail "not PE32"
exports=$(echo "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^[[:space:]]+\[' | sed 's/.*\] //' | sort | tr '\n' ' ')
expected=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
[ "$exports" = "$expected" ] || fail "exports '$exports', expected '$expected'"
system='^(KERNEL32|USER32|GDI32|COMCTL32|COMDLG32|ADVAPI32|SHELL32|msvcrt|ole32|VERSION)\.dll$'
for dll in $(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
  echo "$dll" | grep -qiE "$system" || fail "imports $dll, which is not a Windows system DLL"
done
echo "$file: PE32 i386, exports '$exports', system imports only"
