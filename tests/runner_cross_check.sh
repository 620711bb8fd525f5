#!/bin/sh
# Native corvanel and corvanel.exe with the real Corvanel.8bf under Wine must write
# byte-identical files: three and four channels, Glow and Sparkle. TGA, written by the same
# stb code in both builds (the native PNG encoder is libvips's).
# runner_cross_check.sh NATIVE_BUILD WINDOWS_BUILD WINE_ARCH WORKDIR
set -eu
native=$1 windows=$2 arch=$3 work=$4
here=$(cd "$(dirname "$0")/.." && pwd)
[ -x "$native/runner/corvanel" ] || { echo "no native corvanel in $native (build it first)" >&2; exit 1; }
mkdir -p "$work"
cd "$work"
"$native/runner/corvanel_sample" rgb.png 96 64
"$native/runner/corvanel_sample" rgba.png 96 64 --alpha
fail=0
for image in rgb rgba; do
  for mode in glow sparkle; do
    set -- --mode "$mode" --match 255,200,90 --threshold 40 --radius 12 --quiet
    out="$image-$mode"
    "$native/runner/corvanel" "$image.png" "$out-native.tga" "$@"
    "$here/cmake/wine-run" "$arch" "$windows/corvanel.exe" "$image.png" "$out-wine.tga" "$@"
    if cmp -s "$out-native.tga" "$out-wine.tga"; then
      echo "$out: identical"
    else
      echo "$out: native and Wine outputs differ" >&2
      fail=1
    fi
  done
done
exit $fail
