#!/usr/bin/env bash
# Runs tools/plot-results on the program's own output in a temporary folder and
# checks the pictures and the error cases. Exits 77 (skipped) without gnuplot.
# Usage: plot_results_test.sh PROGRAM TOOL [BATCH_PROGRAM]
set -uo pipefail
program=$(realpath "$1") tool=$(realpath "$2") batch=${3:+$(realpath "$3")}
command -v gnuplot >/dev/null 2>&1 || { echo "gnuplot absent: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

# A PNG signature, and a width of at least 800 pixels in its header chunk.
png_ok() {
  [ "$(od -An -tx1 -N8 "$1" | tr -d ' \n')" = "89504e470d0a1a0a" ] || return 1
  local width=$(( 16#$(od -An -tx1 -j16 -N4 "$1" | tr -d ' \n') ))
  local height=$(( 16#$(od -An -tx1 -j20 -N4 "$1" | tr -d ' \n') ))
  [ "$width" -ge 800 ] && [ "$height" -ge 500 ]
}
# The tool fails with the message and leaves no picture behind.
fails_with() {  # fails_with FOLDER MESSAGE [ENV...]
  local folder=$1 message=$2 err
  shift 2
  local settings=() ids=()
  for a in "$@"; do if [[ "$a" == *=* ]]; then settings+=("$a"); else ids+=("$a"); fi; done
  err=$(env ${settings[@]+"${settings[@]}"} "$tool" "$folder" ${ids[@]+"${ids[@]}"} 2>&1 >/dev/null) && return 1
  [[ "$err" == *"$message"* ]] || { echo "  said: $err"; return 1; }
  [ -z "$(find "$folder" -name '*.png*')" ]
}

mkdir "$work/run"
(cd "$work/run" && "$program" </dev/null >/dev/null) || { echo "FAILED: the program did not run"; exit 1; }
check "plots the program's output" "$tool" "$work/run"
check "Vek_Slip.png is a PNG of a sensible size" png_ok "$work/run/Vek_Slip.png"
check "Vek_Amp.png is a PNG of a sensible size" png_ok "$work/run/Vek_Amp.png"
check "works from the current folder too" bash -c "cd '$work/run' && '$tool' >/dev/null"

mkdir "$work/missing" "$work/foreign" "$work/nognuplot"
cp "$work/run/Vek_Slip.csv" "$work/missing/"
printf 'a,b,c\n1,2,3\n4,5,6\n' > "$work/foreign/Vek_Slip.csv"
cp "$work/run/Vek_Amp.csv" "$work/foreign/"
cp "$work/run/"*.csv "$work/nognuplot/"
check "a missing file is named" fails_with "$work/missing" "Vek_Amp.csv not found"
check "a foreign file is refused" fails_with "$work/foreign" "Vek_Slip.csv is not a slipvel result file"
check "a missing gnuplot is named" fails_with "$work/nognuplot" "gnuplot not found: install gnuplot-nox" \
  GNUPLOT=/nonexistent/gnuplot

check "--help answers" bash -c "'$tool' --help | grep -q '^Usage: tools/plot-results'"
checks=8

# Batch results: one id, then several in one picture each.
if [ -n "$batch" ]; then
  mkdir "$work/batch"
  printf 'id,vm,slip\nsf-1,3,0.8\nsf.2,4.092,1\n' > "$work/batch/t.csv"
  (cd "$work/batch" && "$batch" --table t.csv -o out) || { echo "FAILED: the batch did not run"; exit 1; }
  check "an unknown id is named" fails_with "$work/batch/out" "nope_slip.csv not found" nope
  check "one id" "$tool" "$work/batch/out" sf-1
  check "one id: its two pictures" png_ok "$work/batch/out/sf-1_slip.png"
  check "several ids" "$tool" "$work/batch/out" sf-1 sf.2
  check "several ids: one picture each" png_ok "$work/batch/out/amp.png"
  checks=$((checks + 5))
fi

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
