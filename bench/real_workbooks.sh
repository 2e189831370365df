#!/bin/bash
# real_workbooks.sh - run check, sheet and recalc on every .xlsx/.xlsm under a folder of real
# workbooks gathered by hand (nothing is downloaded here) and print one line per file:
#   FILE  check-rc  sheet-rc  recalc-rc  copy(same|differs|none)  seconds  first-error-line
# Usage: bench/real_workbooks.sh HOST DIR [JOBS] > results.tsv
# Each command runs under `timeout 20` and a 4 GiB address-space limit; rc 124 is a timeout,
# rc >= 128 a signal.
set -u
host=$1; dir=$2; jobs=${3:-2}
one() {
    local host=$1 f=$2 out err start end c s r copy msg
    out=$(mktemp --suffix=.xlsx); err=$(mktemp); rm -f "$out"
    start=$(date +%s.%N)
    (ulimit -v 4194304; timeout 20 "$host" check "$f" >/dev/null 2>"$err"); c=$?
    (ulimit -v 4194304; timeout 20 "$host" sheet "$f" >/dev/null 2>>"$err"); s=$?
    (ulimit -v 4194304; timeout 20 "$host" recalc "$f" "$out" >/dev/null 2>>"$err"); r=$?
    end=$(date +%s.%N)
    if [ ! -e "$out" ]; then copy=none; elif cmp -s "$f" "$out"; then copy=same; else copy=differs; fi
    msg=$(head -n 1 "$err" | tr '\t' ' ')
    printf '%s\t%s\t%s\t%s\t%s\t%.2f\t%s\n' "$f" "$c" "$s" "$r" "$copy" "$(echo "$end - $start" | bc)" "$msg"
    rm -f "$out" "$err"
}
export -f one
find "$dir" -type f \( -iname '*.xlsx' -o -iname '*.xlsm' \) -print0 | sort -z |
    xargs -0 -P "$jobs" -I{} bash -c 'one "$0" "$1"' "$host" {}
