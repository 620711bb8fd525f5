#!/usr/bin/env bash
# The command on a 24-megapixel photograph (6000 x 4000 JPEG), whole process: wall time and
# peak resident memory (/usr/bin/time -v) against libvips loading and saving the same file
# alone, with nothing matching, Glow r30 and r100 and Sparkle r30 at thresholds that put
# about 3 % and about 20 % of the pixels in the colour window.
#
#   bench/big_document.sh [--runs N] [--work DIR] [--no-wine]
#
# Natively build/native/command/corvanel; also build/windows64/corvanel.exe under Wine when
# that tree and cmake/wine-run exist. Each row is the best time and the highest peak of N runs
# (default 2). A row shows the program starting alone (--version): under Wine, even with the
# wineserver kept running, that is much of a run. Needs vips and /usr/bin/time.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=2
work=$root/build/bigdoc
wine=1
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --no-wine) wine=0; shift ;;
    *) echo "usage: $0 [--runs N] [--work DIR] [--no-wine]" >&2; exit 2 ;;
  esac
done
native=$root/build/native/command/corvanel
[ -x "$native" ] || { echo "build $native first" >&2; exit 2; }
command -v vips >/dev/null || { echo "vips is needed" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed" >&2; exit 2; }
mkdir -p "$work"
cd "$work"
W=6000 H=4000
pixels=$((W * H))

# A packaged photograph if there is one, else a made one: smooth colour fields over a
# brightness falling from top to bottom, with grain at both scales so that the JPEG is as
# busy to code as a photograph's.
make_image() {
  local src=""
  for dir in /usr/share/backgrounds /usr/share/wallpapers /usr/share/images/desktop-base \
    /usr/share/desktop-base; do
    [ -d "$dir" ] || continue
    src=$(find "$dir" \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' \) -size +100k \
      2>/dev/null | head -1)
    [ -n "$src" ] && break
  done
  if [ -n "$src" ]; then
    echo "source: $src"
    vips thumbnail "$src" big0.v $W --height $H --size force
    vips colourspace big0.v big1.v srgb
    vips extract_band big1.v big8.v 0 --n 3
  else
    echo "source: made with libvips (no packaged photograph found)"
    local w=$((W / 4)) h=$((H / 4))
    vips perlin r.v $w $h --cell-size 160 --seed 1
    vips perlin g.v $w $h --cell-size 160 --seed 2
    vips perlin b.v $w $h --cell-size 160 --seed 3
    vips perlin l.v $w $h --cell-size 40 --seed 4
    vips bandjoin "r.v g.v b.v" c.v
    vips linear c.v c2.v 60 0
    vips linear l.v l2.v 50 0
    vips add c2.v l2.v cl.v
    vips xyz xy.v $w $h
    vips extract_band xy.v y.v 1
    vips linear y.v grad.v " -0.17" 230 # leading space: not an option
    vips add cl.v grad.v base.v
    vips gaussnoise n.v $w $h --sigma 6 --mean 0
    vips add base.v n.v small.v
    vips cast small.v small8.v uchar
    vips resize small8.v big0.v 4 --kernel lanczos3
    vips gaussnoise n2.v $W $H --sigma 3 --mean 0
    vips add big0.v n2.v big1.v
    vips cast big1.v big8.v uchar
  fi
  vips copy big8.v "big.jpg[Q=90]"
  rm -f ./*.v
}
[ -f big.jpg ] || make_image
echo "$(vipsheader big.jpg), $(($(stat -c %s big.jpg) / 1024)) KB"

# The Threshold that first puts at least $1 % of the pixels in the window of white: the
# share of pixels whose darkest band is at least 255 - Threshold.
histogram() {
  vips extract_band big.jpg e0.v 0
  vips extract_band big.jpg e1.v 1
  vips extract_band big.jpg e2.v 2
  vips bandrank "e0.v e1.v e2.v" m.v --index 0
  vips hist_find m.v h.v
  vips csvsave h.v darkest.csv
  rm -f e0.v e1.v e2.v m.v h.v
}
threshold_for() {
  tr '\t ' '\n\n' <darkest.csv | grep -v '^$' | awk -v want="$1" '
    { h[NR - 1] = $1; total += $1 }
    END { c = 0; for (t = 0; t <= 100; t++) { c += h[255 - t]; if (100 * c / total >= want) { print t; exit } }
          print 100 }'
}
[ -f darkest.csv ] || histogram
t3=$(threshold_for 3)
t20=$(threshold_for 20)
echo "thresholds at white: $t3 (about 3 %), $t20 (about 20 %); $runs run(s) a row"

# Runs "$@" $runs times; sets best (s), peak (KB) and share (the command's line, if any).
measure() {
  best="" peak=0 share="-"
  local i out
  for ((i = 0; i < runs; i++)); do
    out=$(/usr/bin/time -v "$@" 2>&1 >/dev/null) || { echo "failed: $*" >&2; echo "$out" >&2; exit 1; }
    local wall rss
    wall=$(echo "$out" | sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' |
      awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    rss=$(echo "$out" | sed -n 's/.*Maximum resident set size (kbytes): //p')
    if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$wall; fi
    [ "$rss" -gt "$peak" ] && peak=$rss
    local line
    line=$(echo "$out" | grep -o '([0-9.]* %) in the colour window' | head -1 || true)
    if [ -n "$line" ]; then share=$(echo "$line" | sed 's/^(\(.*\)) in.*/\1/')
    elif echo "$out" | grep -q 'the image is unchanged'; then share="0 %"; fi
  done
}

row() { # label, base time, then the command
  local label=$1 base=$2
  shift 2
  measure "$@"
  print_row "$label" "$base"
}
print_row() {
  local label=$1 base=$2
  printf '| %s | %s | %.2f s | %s | %d MB | %.1f |\n' "$label" "$share" "$best" \
    "$(awk -v a="$best" -v b="$base" 'BEGIN { printf "%.1f×", a / b }')" $((peak / 1024)) \
    "$(awk -v k="$peak" -v p="$pixels" 'BEGIN { print k * 1024 / p }')"
}

table() { # name, then the program and its leading arguments
  local name=$1
  shift
  echo
  echo "$name, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "| run | in the window | time (best of $runs) | × load+save | peak | bytes/pixel |"
  echo "|---|---|---|---|---|---|"
  measure vips copy big.jpg copy.jpg
  local base=$best
  print_row "vips copy big.jpg copy.jpg (load and save alone)" "$base"
  # The command saves JPEG at its default quality, and one this large with the standard
  # Huffman tables.
  row "vips copy, saved as the command saves (Q=90)" "$base" vips copy big.jpg "copy.jpg[Q=90]"
  row "the program starting alone (--version)" "$base" "$@" --version
  row "nothing matches (0,255,0, threshold 0)" "$base" "$@" --match 0,255,0 --threshold 0 big.jpg o.jpg
  local mode radius t
  for mode in "glow 30" "glow 100" "sparkle 30"; do
    radius=${mode#* }
    for t in "$t3" "$t20"; do
      row "${mode% *} r$radius, threshold $t" "$base" "$@" --mode "${mode% *}" --radius "$radius" \
        --match 255,255,255 --threshold "$t" big.jpg o.jpg
    done
  done
}

table "native ($native)" "$native"
exe=$root/build/windows64/corvanel.exe
if [ "$wine" = 1 ] && [ -x "$root/cmake/wine-run" ] && [ -f "$exe" ]; then
  # A wineserver kept running, as on a desktop where Wine is in use: each run then pays
  # Wine's start of a process, not of the whole server.
  prefix=${CORVANEL_WINE64_PREFIX:-$root/build/wine64-prefix}
  WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -p || true # one may be running already
  # Wine's services start with the first program and live as long as the server: started
  # here with no pipe to hold open, not inside a timed run whose output is read.
  "$root/cmake/wine-run" win64 "$exe" --version >/dev/null 2>&1 </dev/null || true
  table "64-bit build under Wine ($exe)" "$root/cmake/wine-run" win64 "$exe"
  WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -k || true
else
  echo
  echo "64-bit build under Wine: skipped (no $exe)"
fi
