#!/usr/bin/env bash
# Runs tools/plot-rupture on slipvel-rupture's files for the examples and
# checks the pictures and the refusals. Exits 77 (skipped) without gnuplot.
# Usage: plot_rupture_test.sh RUPTURE_PROGRAM TOOL EXAMPLES_DIR
set -uo pipefail
rupture=$(realpath "$1") tool=$(realpath "$2") examples=$(realpath "$3")
command -v gnuplot >/dev/null 2>&1 || { echo "gnuplot absent: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
png_ok() {  # a PNG signature and a sensible size
  [ "$(od -An -tx1 -N8 "$1" | tr -d ' \n')" = "89504e470d0a1a0a" ] || return 1
  local width=$(( 16#$(od -An -tx1 -j16 -N4 "$1" | tr -d ' \n') ))
  local height=$(( 16#$(od -An -tx1 -j20 -N4 "$1" | tr -d ' \n') ))
  [ "$width" -ge 800 ] && [ "$height" -ge 500 ]
}
fails_with() {  # fails_with MESSAGE [VAR=VALUE...] -- ARGUMENTS...: the message, status 1, no picture
  local message=$1 settings=() err
  shift
  while [ "$1" != "--" ]; do settings+=("$1"); shift; done
  shift
  err=$(cd "$work" && env ${settings[@]+"${settings[@]}"} "$tool" "$@" 2>&1 >/dev/null) && return 1
  [[ "$err" == *"$message"* ]] || { echo "  said: $err"; return 1; }
  [ -z "$(find "$work" -name '*.png')" ]
}

for name in one bend; do
  prefix=$([ $name = bend ] && echo bend- || echo "")
  mkdir "$work/$name"
  "$rupture" --segments "$examples/${prefix}segments.csv" --patches "$examples/${prefix}patches.csv" \
    --hypocentre 1:0:9 --vr 2.8 --points "$work/$name/points.csv" --planes "$work/$name/planes.csv" \
    --moment-rate "$work/$name/rate.csv" >/dev/null || { echo "FAILED: slipvel-rupture did not run"; exit 1; }
done
check "plots one segment with its moment rate" "$tool" "$work/one/points.csv" "$work/one/planes.csv" "$work/one/rate.csv"
check "rupture.png is a PNG of a sensible size" png_ok "$work/one/rupture.png"
check "moment_rate.png is a PNG of a sensible size" png_ok "$work/one/moment_rate.png"
mkdir "$work/pictures"
check "plots two segments into -o DIR" "$tool" -o "$work/pictures" "$work/bend/points.csv" "$work/bend/planes.csv"
check "only rupture.png without a moment-rate file" test "$(ls "$work/pictures")" = rupture.png
check "that picture is a PNG too" png_ok "$work/pictures/rupture.png"
rm -rf "$work/one" "$work/pictures"

# Refusals: each names what is wrong and leaves no picture.
cd "$work/bend"
printf 'a,b\n1,2\n' > foreign.csv
sed '2s/^1-0-0,/1_0_0,/' points.csv > badid.csv
sed '2s/^1-0-0,/3-0-0,/' points.csv > noplane.csv
check "a missing file" fails_with "nothing.csv not found" -- bend/nothing.csv bend/planes.csv
check "a foreign points table" fails_with "is not a points table written by slipvel-rupture" -- bend/foreign.csv bend/planes.csv
check "a foreign moment-rate file" fails_with "is not a moment-rate file" -- bend/points.csv bend/planes.csv bend/foreign.csv
check "an id that is not SEG-I-J" fails_with "badid.csv:2: id \"1_0_0\" is not <segment>-<i>-<j>" -- bend/badid.csv bend/planes.csv
check "a segment without a plane" fails_with "noplane.csv:2: segment 3 has no row in" -- bend/noplane.csv bend/planes.csv
check "an unknown option" fails_with "unknown option: --colour" -- --colour bend/points.csv bend/planes.csv
check "a missing gnuplot" fails_with "gnuplot not found: install gnuplot-nox" GNUPLOT=/nonexistent/gnuplot -- \
  bend/points.csv bend/planes.csv
check "--help says how" bash -c "'$tool' --help | grep -q 'Usage: tools/plot-rupture'"

[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
