#!/usr/bin/env bash
# same_as_linux.sh - the Windows program under Wine prints what the Linux one prints, byte for byte,
# for sheet, check and recalc on each workbook, and writes the same recalculated copy. Each copy is
# written over a file already there, from a folder of its own so that the names printed are the same.
# A workbook is also given under a name outside ASCII, and the Windows program run from a folder
# named so must find its module beside it. Exits 77 (skipped) without the Linux build.
# Usage: same_as_linux.sh WORK_DIR LINUX_HOST WINE WINDOWS_HOST WORKBOOK...
set -u
work=$1 linux=$2 wine=$3 windows=$4
shift 4
[ -x "$linux" ] || { echo "no Linux build at $linux: build the linux-debug preset first"; exit 77; }
rm -rf "$work" && mkdir -p "$work/linux" "$work/windows"
cp "$1" "$work/Übersicht Σ €.xlsx"
books=("$@" "$work/Übersicht Σ €.xlsx")

moved="$work/Σ bin"
mkdir -p "$moved" && cp "$(dirname "$windows")"/{quorin-host.exe,quorin64.xll,XLCALL32.dll} "$moved/"
for side in linux windows; do
  if [ $side = linux ]; then
    host=("$linux") located=("$linux")
  else
    host=("$wine" "$windows") located=("$wine" "$moved/quorin-host.exe")
  fi
  cd "$work/$side"
  "${located[@]}" eval '=StudentT(10)' >eval.out 2>eval.err
  echo "exit $?" >>eval.out
  "${host[@]}" check "${books[@]}" >check.out 2>check.err
  echo "exit $?" >>check.out
  for book in "${books[@]}"; do
    name=$(basename "$book" .xlsx)
    "${host[@]}" sheet "$book" >"$name.sheet.out" 2>"$name.sheet.err"
    echo "exit $?" >>"$name.sheet.out"
    cp "$book" "$name.copy.xlsx"
    "${host[@]}" recalc "$book" "$name.copy.xlsx" >"$name.recalc.out" 2>"$name.recalc.err"
    echo "exit $?" >>"$name.recalc.out"
  done
done

failures=0
cd "$work/linux"
for file in *; do
  if ! cmp -s "$file" "../windows/$file"; then
    echo "FAILED: $file differs between Linux and Windows"
    diff <(od -c "$file") <(od -c "../windows/$file") | head -n 6
    failures=$((failures + 1))
  fi
done
echo "same as Linux: $(ls | wc -l) files compared, $failures differing"
[ "$failures" = 0 ]
