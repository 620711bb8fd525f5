#!/bin/sh
# Builds the Windows installer from both Windows trees: stage.sh, then makensis.
# build.sh [--amd64] WINDOWS_TREE WINDOWS64_TREE OUT_DIR [VERSION]; prints the setup's path.
# The setup shipped is a 32-bit program, so that it runs on 32-bit Windows too; --amd64
# builds the same script as a 64-bit one, for a test machine that cannot run 32-bit code.
set -eu
target=x86-unicode
if [ "${1:-}" = --amd64 ]; then
  target=amd64-unicode
  shift
fi
x86=$1 x64=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
# The files must carry the project's version; the setup may be labelled another (a test's
# "older" install).
project=$(sed -n 's/^project(Corvanel VERSION \([0-9.]*\).*/\1/p' "$here/../CMakeLists.txt")
version=${4:-$project}
stamp=$(git -C "$here" log -1 --format=%ct 2>/dev/null || echo 315532800)
mkdir -p "$out"
sh "$here/stage.sh" "$x86" "$x64" "$out/stage" "$project" "$stamp"
setup=$out/Corvanel-$version-setup.exe
SOURCE_DATE_EPOCH=$stamp makensis -V1 -DTARGET=$target -DVERSION="$version" -DSTAGE="$out/stage" \
  -DOUTFILE="$setup" "$here/Corvanel.nsi" >&2
echo "$setup"
