#!/usr/bin/env bash
# same_for_any_jobs.sh - check and recalc give one worker's report and copy, byte for byte, on four
# workers: for each workbook alone (its formulas computed on every worker), and for all of them in one
# check (each workbook on a worker of its own, reported in the order given).
# Usage: same_for_any_jobs.sh WORK_DIR WORKBOOK... -- HOST... (HOST: the program, its runner first under Wine)
set -u
work=$1
shift
books=()
while [ "$1" != "--" ]; do books+=("$1"); shift; done
shift
host=("$@")
rm -rf "$work" && mkdir -p "$work/1" "$work/4"
for jobs in 1 4; do
  cd "$work/$jobs"
  "${host[@]}" --jobs $jobs check "${books[@]}" >all.check 2>&1
  echo "exit $?" >>all.check
  for book in "${books[@]}"; do
    name=$(basename "$book")
    "${host[@]}" --jobs $jobs check "$book" >"$name.check" 2>&1
    echo "exit $?" >>"$name.check"
    "${host[@]}" --jobs $jobs recalc "$book" "$name" >"$name.recalc" 2>&1
    echo "exit $?" >>"$name.recalc"
  done
done

# A difference here is a worker reading a cell of ours before it is computed, random numbers drawn
# out of one worker's order, two workers sharing one copy of the module's statics, or the reports
# of several workbooks mixed or out of order.
failures=0
cd "$work/1"
for file in *; do
  if ! cmp -s "$file" "../4/$file"; then
    echo "FAILED: $file differs between one worker and four"
    diff "$file" "../4/$file" | head -n 6
    failures=$((failures + 1))
  fi
done
echo "same for any jobs: $(ls | wc -l) files compared, $failures differing"
[ "$failures" = 0 ]
