#!/bin/sh
# Runs one fuzz target for a time budget: run.sh FUZZER SECONDS WORKDIR.
# The seeds and kept crashing inputs under fuzz/corpus/NAME run first; inputs that reach new
# code go to WORKDIR/corpus/NAME, a crashing one to WORKDIR/artifacts/NAME-crash-...
set -eu
fuzzer=$1 seconds=$2 work=$3
name=$(basename "$fuzzer")
seeds=$(cd "$(dirname "$0")" && pwd)/corpus/$name
mkdir -p "$work/corpus/$name" "$work/artifacts"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/$name-" "$work/corpus/$name" "$seeds"
