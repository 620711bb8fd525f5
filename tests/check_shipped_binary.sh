#!/bin/sh
# Checks a shipped Windows binary without running it: PE32 for i386 or PE32+ for x86-64,
# the exports it must have and no others, and imports of Windows system DLLs only; with
# --large-address-aware, also that it may use addresses above 2 GB. A plug-in (one that
# exports ENTRYPOINT) must carry its property list of ten properties: the enable expression
# that offers it in 16-bit RGB documents, then the scripting properties, the terminology's
# event (hstm) and Smart Filter support (flly).
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
pipl=""
case " $exports " in
  *" ENTRYPOINT "*)
    # The resource section as one hex string: format 1, version 0, ten properties, 'kind'
    # first ("MIB8" "dnik": codes read backwards); 'enbl' of 124 bytes whose expression names
    # RGBMode and RGB48Mode and ends in its zero; 'hstm' of 52 bytes naming version 0, class
    # 'tsRy', event 'crVl' and terminology 16000; 'flly' of 4 bytes, the first 0x80.
    rsrc=$("$objdump" -s -j .rsrc "$file" | awk '/^ [0-9a-f]+ / { s = substr($0, length($1) + 3, 35); gsub(/ /, "", s); printf "%s", s }')
    hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
    case $rsrc in
      *0100000000000a0000004d494238646e696b*) ;;
      *) fail "carries no property list of ten properties" ;;
    esac
    enbl=$(hex MIB8lbne)000000007c000000$(hex 'in (PSHOP_ImageMode, ')
    case $rsrc in
      *"$enbl"*"$(hex ' RGBMode,')"*"$(hex ' RGB48Mode)')00"*) ;;
      *) fail "has no enable expression (enbl) naming RGBMode and RGB48Mode" ;;
    esac
    hstm=$(hex MIB8mtsh)0000000034000000$(hex yRstlVrc | sed 's/^/00000000/')803e
    flly=$(hex MIB8yllf)000000000400000080000000
    case $rsrc in
      *"$hstm"*"$flly"*) ;;
      *) fail "has no scripting properties (hstm for the event crVl, then flly)" ;;
    esac
    pipl=", property list with 16-bit RGB enabled and scripting"
    ;;
esac
echo "$file: $kind $format, exports '$exports', system imports only$pipl"
