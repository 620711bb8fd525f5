#!/bin/sh
# Native corvanel and corvanel.exe with the real Corvanel.8bf under Wine must write
# byte-identical files: three and four channels, Glow and Sparkle, on a small image and on
# one large enough for every path of the engine, with few matching pixels and with many.
# TGA is compared, written by the same stb code in both builds (the native PNG encoder is
# libvips's). Each Windows tree runs this against the native tree, so the 32-bit and the 64-bit
# plug-in are both held to the native output.
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
check() {  # image mode settings-name settings...
  image=$1 mode=$2 name=$3
  shift 3
  out="$image-$mode-$name"
  "$native/command/corvanel" "$image.png" "$out-native.tga" --mode "$mode" "$@" --quiet
  "$here/cmake/wine-run" "$arch" "$windows/corvanel.exe" "$image.png" "$out-wine.tga" \
    --mode "$mode" "$@" --quiet
  if cmp -s "$out-native.tga" "$out-wine.tga"; then
    echo "$out: identical"
  else
    echo "$out: native and Wine outputs differ" >&2
    fail=1
  fi
}
for image in small-rgb small-rgba large-rgb large-rgba; do
  for mode in glow sparkle; do
    # shellcheck disable=SC2086
    check $image $mode sparse $sparse
    case $image in large-*) check $image $mode dense $dense ;; esac
  done
done
exit $fail
