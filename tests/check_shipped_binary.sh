#!/bin/sh
# Checks a shipped Windows binary without running it: PE32 for i386 or PE32+ for x86-64,
# the exports it must have and no others, and imports of Windows system DLLs only; with
# --large-address-aware, also that it may use addresses above 2 GB.
# check_shipped_binary.sh [--large-address-aware] OBJDUMP i386|x86-64 FILE [EXPORT...]
set -u
laa=0
if [ "${1:-}" = --large-address-aware ]; then
  laa=1
  shift
fi
objdump=$1
format=$2
file=$3
shift 3
fail() { echo "$file: $*" >&2; exit 1; }
case $format in
  i386) magic=010b kind=PE32 ;;
  x86-64) magic=020b kind=PE32+ ;;
  *) fail "unknown format $format" ;;
esac
headers=$("$objdump" -p "$file") || fail "not readable by $objdump"
echo "$headers" | grep -q "file format pei-$format\$" || fail "not a pei-$format image"
echo "$headers" | grep -qE "^Magic[[:space:]]+$magic" || fail "not $kind"
if [ $laa = 1 ]; then
  echo "$headers" | sed -n '/^Characteristics/,/^$/p' | grep -q 'large address aware' ||
    fail "not linked large-address-aware"
fi
exports=$(echo "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^[[:space:]]+\[' | sed 's/.*\] //' | sort | tr '\n' ' ')
expected=""
[ $# -gt 0 ] && expected=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
[ "$exports" = "$expected" ] || fail "exports '$exports', expected '$expected'"
system='^(KERNEL32|USER32|GDI32|COMCTL32|COMDLG32|ADVAPI32|SHELL32|msvcrt|ole32|OLEAUT32|VERSION|WINDOWSCODECS)\.dll$'
for dll in $(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
  echo "$dll" | grep -qiE "$system" || fail "imports $dll, which is not a Windows system DLL"
done
echo "$file: $kind $format, exports '$exports', system imports only"
