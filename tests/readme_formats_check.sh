#!/bin/sh
# The README's formats table says what each build reads and writes, as --help (from the
# build's format table) says it, so the two cannot drift apart.
# readme_formats_check.sh README ROW-LABEL COMMAND [ARGS...]
set -u
readme=$1 label=$2
shift 2
help=$("$@" --help 2>&1) || { echo "$* --help failed" >&2; exit 1; }
# "  reads  jpg jpeg, png, gif (single-frame)" -> "gif jpg png": the first name of each.
names() { tr -d '\r' | sed 's/([^)]*)//g' | tr ',' '\n' | awk 'NF { print $1 }' | sort | tr '\n' ' '; }
fail=0
for column in reads writes; do
  said=$(echo "$help" | sed -n "s/^ *$column  *//p" | head -n 1 | names)
  case $column in reads) field=3 ;; *) field=4 ;; esac
  row=$(grep -F "| $label |" "$readme" | head -n 1 | awk -F'|' -v f=$field '{ print $f }' | names)
  if [ -z "$said" ] || [ "$said" != "$row" ]; then
    echo "$label $column: --help says '$said', the README says '$row'" >&2
    fail=1
  fi
done
exit $fail
