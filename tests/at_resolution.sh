#!/bin/sh
# Runs a Windows test program under Wine at another display resolution, as a user who set
# 150 % or 200 % sees it: at_resolution.sh win32|win64 DPI PROGRAM [ARGS...]. The prefix's
# setting is put back afterwards, whatever the outcome.
set -u
arch=$1 dpi=$2
shift 2
run=$(cd "$(dirname "$0")/../cmake" && pwd)/wine-run
key='HKCU\Control Panel\Desktop'
"$run" "$arch" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || exit 1
"$run" "$arch" "$@"
status=$?
"$run" "$arch" reg delete "$key" /v LogPixels /f >/dev/null 2>&1
exit $status
