#!/bin/sh
# Copies the shipped files of both Windows trees into STAGE/x86 and STAGE/x64, each checked
# as a file first (format, exports, system imports, and the plug-in's version against the
# project's), the commands stripped with the time given: what the zip and the installer pack.
# stage.sh WINDOWS_TREE WINDOWS64_TREE STAGE VERSION [SOURCE_DATE_EPOCH]
set -eu
x86=$1 x64=$2 stage=$3 version=$4 stamp=${5:-315532800}
here=$(cd "$(dirname "$0")/.." && pwd)
check=$here/tests/check_shipped_binary.sh
# FILEVERSION as it lies in the fixed version record: its signature and structure version,
# then the two halves of a.b.c.d, each low word first, in little-endian bytes.
fixed_version() {
  IFS=. read -r a b c d <<VERSION
$1
VERSION
  le16() { printf '%02x%02x' $(($1 & 255)) $(($1 >> 8)); }
  echo "bd04effe00000100$(le16 "$b")$(le16 "$a")$(le16 "$d")$(le16 "$c")"
}
want=$(fixed_version "$version")
rm -rf "$stage"
mkdir -p "$stage/x86" "$stage/x64"
for arch in x86 x64; do
  if [ $arch = x86 ]; then
    tree=$x86 format=i386 tools=i686-w64-mingw32
  else
    tree=$x64 format=x86-64 tools=x86_64-w64-mingw32
  fi
  sh "$check" $tools-objdump $format "$tree/Corvanel.8bf" ENTRYPOINT >/dev/null
  sh "$check" --large-address-aware $tools-objdump $format "$tree/corvanel.exe" >/dev/null
  $tools-objdump -s -j .rsrc "$tree/Corvanel.8bf" |
    awk '/^ [0-9a-f]+ / { s = substr($0, length($1) + 3, 35); gsub(/ /, "", s); printf "%s", s }' |
    grep -q "$want" || { echo "$tree/Corvanel.8bf: its version resource is not $version" >&2; exit 1; }
  cp "$tree/Corvanel.8bf" "$tree/corvanel.exe" "$stage/$arch/"
  # The plug-in is linked stripped already; strip stamps the time given.
  SOURCE_DATE_EPOCH=$stamp $tools-strip "$stage/$arch/corvanel.exe"
done
