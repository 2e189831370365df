#!/usr/bin/env bash
# command_line.sh - the command line's answers and exit statuses, one case per line, run by one
# process so that under Wine the server starts once. Usage: command_line.sh WORK_DIR EXAMPLES HOST...
# (HOST is the program, with its runner first under Wine).
set -u
work=$1 examples=$2
shift 2
host=("$@")
rm -rf "$work" && mkdir -p "$work"
printf 'a,\0b\n' > "$work/binary.csv"
printf '\xef\xbb\xbf2\r=StudentT(A1)\r' > "$work/bom_cr.csv"
spline='=Spline({0,1,2,3,4},{0,1,0,1,0},x)'
failures=0

# expect STATUS PATTERN ARGUMENTS...: the exit status, and a pattern the output must hold. Whatever
# fails must leave no output file behind.
expect() {
  local status=$1 pattern=$2
  shift 2
  rm -f "$work/out.svg"
  local output got
  output=$("${host[@]}" "$@" 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}")
  got=$?
  if [ "$got" != "$status" ] || ! grep -Eq -- "$pattern" <<<"$output" || { [ "$status" != 0 ] && [ -e "$work/out.svg" ]; }; then
    echo "FAILED: $* -> exit $got (expected $status, output matching '$pattern'):"
    echo "$output" | head -n 5
    failures=$((failures + 1))
  fi
}

# Each case names the fault it catches. The reasons a file or a plot is refused are the unit tests'
# cases; here one of each shows that a refusal reaches the message and the exit status.
expect 1 'unknown function Foo' eval '=Foo(1)'                     # an unknown function answered #NAME? with exit 0
expect 2 'eval needs at least one formula' eval                          # too few arguments gave no message
expect 2 'unknown command frobnicate' frobnicate                         # an unknown command went unnamed
expect 0 '^usage: quorin-host .*--jobs N' --help                         # --help taken for an unknown command
expect 0 '^usage: quorin-host' -h                                        # ... and -h
expect 2 'jobs takes a whole number from 1 to 64: 0' --jobs 0 eval '=1'  # no worker at all to evaluate on
expect 2 'jobs takes a whole number from 1 to 64: 1.5' --jobs 1.5 eval '=1'
expect 1 'is a directory' sheet "$work"                                  # a directory read as an empty sheet, exit 0
expect 1 'binary content' sheet "$work/binary.csv"                       # NUL bytes read as text
expect 0 '^2,?$' sheet --csv "$work/bom_cr.csv"                          # a byte-order mark kept in A1, CR line ends ignored
expect 1 'no such file or directory' check "$work/nothing"               # a missing sheet reported as DIFFER
expect 2 'check needs' check                                             # too few arguments
expect 1 'counts rows and columns in 16 bits' eval '=CountBetween(A1:A65536,0,1)'  # a silent error value
expect 1 'Foo' plot '=Foo(x)' x 0 1 "$work/out.svg"                      # an empty plot of an unknown function
expect 2 'samples must be a number: abc' plot "$spline" x 0 4 "$work/out.svg" --samples abc
expect 2 'whole number from 2 to 100000' plot "$spline" x 0 4 "$work/out.svg" --samples 99999999999  # a runaway
expect 2 'plot takes' plot "$spline" x 0                                 # too few arguments
expect 0 '401 samples' plot "$spline" x 0 4 "$work/out.svg"
[ -s "$work/out.svg" ] || { echo "FAILED: the plot wrote no file"; failures=$((failures + 1)); }

# --csv output is the recorded answers byte for byte (so the same on every build), and reads back
# as itself.
for sheet in "$examples"/*.csv; do
  case $sheet in *.expected.csv) continue ;; esac
  expected=${sheet%.csv}.expected.csv
  for input in "$sheet" "$expected"; do
    if ! "${host[@]}" sheet --csv "$input" 2>/dev/null | cmp -s - "$expected"; then
      echo "FAILED: sheet --csv $input is not byte for byte $expected"
      failures=$((failures + 1))
    fi
  done
done

echo "command line: $failures failed"
[ "$failures" = 0 ]
