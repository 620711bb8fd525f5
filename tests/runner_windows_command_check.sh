#!/bin/sh
# corvanel.exe under Wine keeps the command's promises on Windows too: arguments that
# start with / are paths, outputs that would lose data are refused, and a dialog that could
# not be shown writes nothing.
# runner_windows_command_check.sh NATIVE_BUILD WINDOWS_BUILD WINE_ARCH WORKDIR
set -u
native=$1 windows=$2 arch=$3 work=$4
here=$(cd "$(dirname "$0")/.." && pwd)
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
"$native/tools/corvanel_sample" in.png 32 24 || exit 1
fail=0
# expect STATUS TEXT ARGS...: the exit status and a piece of what it says.
expect() {
  want=$1 text=$2
  shift 2
  "$here/cmake/wine-run" "$arch" "$windows/corvanel.exe" "$@" >out.txt 2>err.txt
  got=$?
  if [ "$got" -ne "$want" ] || { [ -n "$text" ] && ! grep -qF -- "$text" err.txt; }; then
    echo "corvanel.exe $*: status $got (wanted $want), said:" >&2
    cat err.txt >&2
    fail=1
  fi
}
expect 0 "in the colour window" "$PWD/in.png" "$PWD/abs.png"
[ -s abs.png ] || { echo "an absolute path starting with / was not written" >&2; fail=1; }
expect 0 "" in.png abs.png --quiet --mode sparkle  # replaces an existing file
expect 1 "cannot open /quiet" /quiet out.png
expect 2 "several inputs need --out-dir" in.png out.png /mode sparkle
expect 1 "is the input in.png" in.png ./in.png
cp in.png ro.png && chmod 444 ro.png
expect 1 "read-only" in.png ro.png
cmp -s in.png ro.png || { echo "a read-only output was changed" >&2; fail=1; }
expect 2 "would be written twice" in.png same.png --save-settings same.png
expect 0 "" in.png - --format bmp --quiet
[ "$(head -c 2 out.txt)" = BM ] || { echo "standard output did not get a BMP" >&2; fail=1; }
# With no display the dialog cannot be shown: that is a failure, and nothing is written.
DISPLAY= expect 1 "dialog could not be shown" in.png dialog.png --dialog
[ ! -e dialog.png ] || { echo "dialog.png was written with settings nobody confirmed" >&2; fail=1; }
# --help offers what this build reads and writes, and nothing it does not: no PNM or PSD.
"$here/cmake/wine-run" "$arch" "$windows/corvanel.exe" --help >help.txt 2>&1
grep -qE "^ *reads .*png.*tif tiff" help.txt && grep -qE "^ *writes .*tif" help.txt ||
  { echo "--help lists no formats:" >&2; cat help.txt >&2; fail=1; }
! grep -qE "ppm|pgm|pnm|psd" help.txt || { echo "--help offers a format that is not read" >&2; fail=1; }
[ -z "$(ls | grep corvanel)" ] || { echo "temporary files were left: $(ls)" >&2; fail=1; }
[ ! -e out.png ] || { echo "out.png was written by a refused run" >&2; fail=1; }
# What a photo said about itself is written again, as natively, and libvips reads it back:
# turned upright (24 x 32 from 32 x 24), the orientation reset, XMP, ICC profile, 150 dpi.
printf '<x:xmpmeta xmlns:x="adobe:ns:meta/">corvanel</x:xmpmeta>' >photo.xmp
vips icc_transform in.png icc.v srgb --input-profile srgb && vips copy icc.v photo0.jpg
convert photo0.jpg -density 150 -units PixelsPerInch -profile photo.xmp photo1.jpg
# EXIF of one entry, orientation 6 (turn right), as the first segment after SOI
{
  printf '\377\330\377\341\000\042Exif\000\000II*\000\010\000\000\000\001\000'
  printf '\022\001\003\000\001\000\000\000\006\000\000\000\000\000\000\000'
  tail -c +3 photo1.jpg
} >photo.jpg
for ext in jpg png; do
  expect 0 "" photo.jpg "photo-out.$ext" --quiet
  vipsheader -a "photo-out.$ext" >header.txt 2>&1
  for want in "photo-out.$ext: 24x32" "exif-ifd0-Orientation: 1" "xmp-data: " \
    "icc-profile-data: " "xres: 5.90"; do
    grep -qF -- "$want" header.txt || { echo "photo-out.$ext lacks '$want'" >&2; fail=1; }
  done
done
vipsheader -f orientation photo.jpg | grep -qx 6 || { echo "the test photo has no orientation" >&2; fail=1; }
# 16-bit PNG and TIFF are filtered and written at 16 bits, as natively: a render that lights
# nothing writes the same samples (the file's, through the host's 0-32768 and back); --depth 8
# and TGA write 8 bits, saying so.
vips linear in.png deep.v 256 97
vips cast deep.v deep16.v ushort
vips copy deep16.v deep16.png --interpretation rgb16
vips copy deep16.v deep16.tif --interpretation rgb16
nothing="--match 1,2,3 --threshold 0"
for out in deep16.png:16-bit:ushort deep16.tif:16-bit:ushort d8-deep16.png:8-bit:uchar \
  wide-deep16.tif:"16-bit, written as 8-bit":uchar; do
  name=${out%%:*} rest=${out#*:} says=${rest%:*} format=${rest##*:}
  case $name in
    d8-*) input=${name#d8-} extra="--depth 8" ;;
    wide-*) input=${name#wide-} extra="" name=wide.tga ;;
    *) input=$name extra="" ;;
  esac
  # shellcheck disable=SC2086
  expect 0 "(Threshold 0; $says)" "$input" "win-$name" $nothing $extra
  # shellcheck disable=SC2086
  "$native/command/corvanel" "$input" "native-$name" $nothing $extra --quiet 2>/dev/null
  if [ "$format" = ushort ] || [ "${name##*.}" = png ]; then
    vipsheader -f format "win-$name" | grep -qi "_$format)" ||
      { echo "win-$name is not $format" >&2; fail=1; }
    vips rawsave "win-$name" win.raw && vips rawsave "native-$name" native.raw &&
      cmp -s win.raw native.raw || { echo "win-$name differs from the native one" >&2; fail=1; }
  else
    cmp -s "win-$name" "native-$name" || { echo "win-$name differs from the native one" >&2; fail=1; }
  fi
done
exit $fail
