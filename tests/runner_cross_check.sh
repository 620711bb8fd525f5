#!/bin/sh
# Native corvanel and corvanel.exe with the real Corvanel.8bf under Wine must write
# byte-identical files: three and four channels, Glow and Sparkle, on a small image and on
# one large enough for every path of the engine, with few matching pixels and with many.
# TGA is compared, written by the same stb code in both builds (the PNG encoders differ:
# libvips natively, the Windows Imaging Component on Windows). Each Windows tree runs this
# against the native tree, so the 32-bit and the 64-bit plug-in are both held to the native
# output.
# runner_cross_check.sh NATIVE_BUILD WINDOWS_BUILD WINE_ARCH WORKDIR
set -eu
native=$1 windows=$2 arch=$3 work=$4
here=$(cd "$(dirname "$0")/.." && pwd)
[ -x "$native/command/corvanel" ] || { echo "no native corvanel in $native (build it first)" >&2; exit 1; }
mkdir -p "$work"
cd "$work"
"$native/tools/corvanel_sample" small-rgb.png 96 64
"$native/tools/corvanel_sample" small-rgba.png 96 64 --alpha
"$native/tools/corvanel_sample" large-rgb.png 400 300
"$native/tools/corvanel_sample" large-rgba.png 400 300 --alpha
# sparse: the lit windows and lamps (2% of the pixels); dense: the sky (two thirds)
sparse="--match 255,200,90 --threshold 40 --radius 12"
dense="--match 12,16,44 --threshold 20 --radius 5"
fail=0
# Filters one input natively and under Wine and compares the two files; out names them.
compare() {  # input out mode settings...
  input=$1 out=$2 mode=$3
  shift 3
  "$native/command/corvanel" "$input" "$out-native.tga" --mode "$mode" "$@" --quiet
  "$here/cmake/wine-run" "$arch" "$windows/corvanel.exe" "$input" "$out-wine.tga" \
    --mode "$mode" "$@" --quiet
  if cmp -s "$out-native.tga" "$out-wine.tga"; then
    echo "$out: identical"
  else
    echo "$out: native and Wine outputs differ" >&2
    fail=1
  fi
}
check() {  # image mode settings-name settings...
  image=$1 mode=$2 name=$3
  shift 3
  compare "$image.png" "$image-$mode-$name" "$mode" "$@"
}
checkfile() {  # input mode settings...
  input=$1 mode=$2
  shift 2
  compare "$input" "$input-$mode" "$mode" "$@"
}
for image in small-rgb small-rgba large-rgb large-rgba; do
  for mode in glow sparkle; do
    # shellcheck disable=SC2086
    check $image $mode sparse $sparse
    case $image in large-*) check $image $mode dense $dense ;; esac
  done
done
# Files the two builds decode with different libraries, whose pixels must still agree:
# 16-bit PNG and TIFF (filtered at 16 bits and written to TGA as the nearest 8-bit values, or
# filtered at 8 with --depth 8), and a TIFF in each of the eight orientations, turned upright.
vips linear small-rgba.png deep.v 256 255
vips cast deep.v deep16.v ushort
vips copy deep16.v deep-rgb16.v --interpretation rgb16
vips copy deep-rgb16.v deep16.png
vips copy deep-rgb16.v deep16.tif
vips colourspace deep-rgb16.v deep-grey16.png grey16
for image in deep16.png deep16.tif deep-grey16.png; do
  checkfile "$image" glow $dense
done
compare deep16.tif deep16-depth8 glow $dense --depth 8
# CMYK without a profile, by the plain rule in both builds, in JPEG and TIFF. (Wine's TIFF
# decoder reads no CMYK with alpha.)
vips copy small-rgb.png cmyk3.v
vips bandjoin_const cmyk3.v cmyk.v 40
vips copy cmyk.v cmyk.jpg --interpretation cmyk
vips copy cmyk.v cmyk.tif --interpretation cmyk
for image in cmyk.jpg cmyk.tif; do
  checkfile "$image" glow $sparse
done
n=0
for orient in TopLeft TopRight BottomRight BottomLeft LeftTop RightTop RightBottom LeftBottom; do
  n=$((n + 1))
  convert small-rgb.png -orient $orient "oriented-$n.tif"
  checkfile "oriented-$n.tif" glow $sparse
done
exit $fail
