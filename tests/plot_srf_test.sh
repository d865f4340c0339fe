#!/usr/bin/env bash
# Runs tools/plot-srf on SRF files of slipvel-rupture and slipvel-batch in
# every layout, on hand-written files in other writers' styles, and on broken
# files, in a temporary folder. Exits 77 (skipped) without gnuplot.
# Usage: plot_srf_test.sh TOOL SLIPVEL_RUPTURE SLIPVEL_BATCH EXAMPLES_DIR
set -uo pipefail
tool=$(realpath "$1") rupture=$(realpath "$2") batch=$(realpath "$3") examples=$(realpath "$4")
. "$(dirname "$0")/plot_checks.sh"

# The programs' files: OUT, then the fault and the layout. Each prints its
# moment line (M0_Nm=... Mw=...).
bend() {  # bend OUT VERSION OPTION...
  "$rupture" --segments "$examples/bend-segments.csv" --patches "$examples/bend-patches.csv" --hypocentre 1:0:9 \
    --vr 2.8 --dt 0.01 --quiet --srf "$1" --srf-version "$2" "${@:3}"
}
trace() {  # trace OUT (version 1.0; the segments have no vs, den: the default rigidity)
  "$rupture" --segments "$examples/trace-segments.csv" --patches "$examples/trace-patches.csv" --hypocentre 1:0:9 \
    --vr 2.8 --dt 0.01 --quiet --srf "$1"
}
table() {  # table OUT (version 1.0 of points of vs 3300 m/s, den 2700 kg/m^3)
  "$batch" --table "$examples/points.csv" --quiet --srf "$1"
}

# The title's M0 and Mw against the moment line, within the title's digits
# (5 for M0, 2 decimals for Mw) and the file's (6 for each value).
moment_agrees() {  # moment_agrees TITLE MOMENT_LINE
  awk -v title="$1" -v line="$2" 'BEGIN {
    if (!match(title, /M0 = [0-9.e+]+/)) exit 1; m0 = substr(title, RSTART + 5, RLENGTH - 5)
    if (!match(title, /Mw = [0-9.]+/)) exit 1; mw = substr(title, RSTART + 5, RLENGTH - 5)
    if (!match(line, /M0_Nm=[0-9.e+]+/)) exit 1; program_m0 = substr(line, RSTART + 6, RLENGTH - 6)
    if (!match(line, /Mw=[0-9.]+/)) exit 1; program_mw = substr(line, RSTART + 3, RLENGTH - 3)
    d = m0 / program_m0 - 1; e = mw - program_mw
    if (d * d > 1e-8 || e * e > 0.0051 ^ 2) { print "  M0 " m0 " Mw " mw " against " program_m0 " " program_mw; exit 1 } }'
}

mkdir "$work/ours"
cd "$work/ours"
while IFS='|' read -r name maker options picture title; do
  read -ra make <<<"$maker"
  read -ra args <<<"$options"
  line=$("${make[0]}" "$name.srf" "${make[@]:1}")
  said=$("$tool" "$name.srf" ${args[@]+"${args[@]}"})
  check "$name: plotted" png_ok "$picture" 1000 700
  check "$name: the title says \"$title\"" bash -c '[[ "$1" == *"$2"* ]]' - "$said" "$title"
  check "$name: M0 and Mw of the title are the program's" moment_agrees "$said" "$line"
done <<'TABLE'
bend-2.0|bend 2.0||bend-2.0.png|SRF 2.0, 2 planes, 730 points in 2 POINTS blocks
bend-2.0-one-block|bend 2.0 --srf-blocks one|one.png|one.png|SRF 2.0, 2 planes, 730 points in 1 POINTS block
bend-2.0-no-plane|bend 2.0 --srf-no-plane||bend-2.0-no-plane.png|SRF 2.0, no PLANE block, 730 points in 1 POINTS block
trace-1.0|trace||trace-1.0.png|SRF 1.0, 2 planes, 954 points in 1 POINTS block
table-1.0|table|--rigidity 29403000000|table-1.0.png|SRF 1.0, no PLANE block, 4 points in 1 POINTS block
TABLE

# Other writers' styles: CRLF line ends, a comment, tabs, values wrapped
# across lines their own way, blank lines, exponents in capitals, slip in
# slip2 (nt2 > 0) and slip3. Point 1: 1 km^2, slip1 30 cm and slip2 40 cm at
# the same steps, so 50 cm along the rake's plane; point 2: 1 km^2, 10 cm;
# mu = 2500 kg/m^3 * (3000 m/s)^2 = 2.25e10 Pa: M0 = 2.25e10 * 1e6 * 0.6.
printf '%s\r\n' '2.0' '# from another code' 'PLANE 1' '  -118.0 34.0045 2 1 2.0 1.0 0 45 4.65 -0.5 0.5' '' \
  $'POINTS\t2' '-1.1799616E+02 3.40E+01' '5.0E+00 0 45 1.0E+10 0.0E+00' '1.0E-01 3.0E+05 2.5E+00' \
  '0 30.0 4 40.0 4 0.0 0' '0.0 150.0' '150.0 0.0 0. 2.0E+02' '200. 0.0E+00' '' \
  $'\t-117.99616 34.009 5.0 0 45 1.0E+10 1.5 5.0E-02 3.0E+05 2.5' '0 10 3 0 0 0 0' '0 200 0' > other-2.0.srf
# One point of 4 km^2 with slip1 30 cm and slip3 40 cm (nt3 > 0), so 50 cm;
# mu 3e10 Pa: M0 = 3e10 * 4e6 * 0.5.
printf '1.0\nPOINTS 1\n 10.0 45.0 3.0 90 60 4.0e10 2.5 0.5\n180 30.0 3 0.0 0 40.0 3\n0 60 0\n0 80 0\n' > other-1.0.srf
while IFS='|' read -r name options title; do
  read -ra args <<<"$options"
  said=$("$tool" "$name.srf" ${args[@]+"${args[@]}"})
  check "$name: plotted" png_ok "$name.png" 1000 700
  check "$name: the title says \"$title\"" bash -c '[[ "$1" == *"$2"* ]]' - "$said" "$title"
done <<'TABLE'
other-2.0||SRF 2.0, 1 plane, 2 points in 1 POINTS block): M0 = 1.35e+16 N·m, Mw = 4.69
other-1.0|--rigidity 3e10|SRF 1.0, no PLANE block, 1 point in 1 POINTS block): M0 = 6e+16 N·m, Mw = 5.12
TABLE
check "--help answers" bash -c "'$tool' --help | grep -q '^Usage: tools/plot-srf'"

# The map's rupture times: flat patches 0.01 degrees apart on the equator,
# NX x NY of them from (10, 0), tinit = 1 + A (lon - 10) + B lat. Every node
# among the patches' centres (with B = 0, anywhere along them) has that time,
# and nodes off the patches none.
grid_ok() {  # grid_ok NX NY A B
  awk -v nx="$1" -v ny="$2" -v a="$3" -v b="$4" 'BEGIN {
    printf "1.0\nPOINTS %d\n", nx * ny
    for (j = 0; j < ny; j++) for (i = 0; i < nx; i++)
      printf "%.6f %.6f 5 90 0 1.2364e10 %.6f 0.1\n0 10 3 0 0 0 0\n0 100 0\n", 10 + i / 100, j / 100, 1 + a * i / 100 + b * j / 100
  }' >"grid-$1x$2.srf" && mkdir -p "grid-$1x$2" &&
    awk -v pass=1 -v data="grid-$1x$2" -v rigidity=3e10 -v name=grid -f "$(dirname "$tool")/contours.awk" -f "$(dirname "$tool")/plot-srf.awk" "grid-$1x$2.srf" &&
    awk -v nx="$1" -v ny="$2" -v a="$3" -v b="$4" '
      BEGIN { margin = b == 0 ? 0.0049 : 0 }
      NF != 3 { next }
      { among = $1 >= 10 && $1 <= 10 + (nx - 1) / 100 && $2 >= -margin && $2 <= (ny - 1) / 100 + margin }
      $3 == "NaN" { if (among) { print "  node " $0 ": undefined among the points"; bad = 1; exit 1 }; next }
      $1 < 9.99 || $1 > 10.01 + (nx - 1) / 100 || $2 < -0.01 || $2 > 0.01 + (ny - 1) / 100 {
        print "  node " $0 ": defined off the points"; bad = 1; exit 1 }
      among {
        inner++; if (($3 - (1 + a * ($1 - 10) + b * $2)) ^ 2 > 1e-10) { print "  node " $0 ": wrong time"; bad = 1; exit 1 } }
      END { if (!bad && inner < 100) { print "  only " inner " nodes among the points"; exit 1 } }' "grid-$1x$2/grid"
}
while read -r what arguments; do
  read -ra args <<<"$arguments"
  check "rupture times on the map of $what" grid_ok "${args[@]}"
done <<'TABLE'
a-5x4-lattice 5 4 30 20
a-row 5 1 30 0
TABLE

# Refusals: each names the file, the line and the value, and writes nothing.
mkdir "$work/bad"
cd "$work/bad"
good=../ours/bend-2.0.srf
cp "$examples/points.csv" not-srf.srf
: >empty.srf
sed '1s/2.0/3.0/' "$good" >version-3.srf
head -n 100 "$good" >truncated.srf
head -n 74 "$good" >truncated-header.srf
awk 'NR == 12 { $2 = "1.2.3" } 1' "$good" >bad-number.srf
awk 'NR == 9 { $3 = "36.2" } 1' "$good" >fractional-nt1.srf
awk 'NR == 8 { $9 = "0.0" } 1' "$good" >no-vs.srf
sed '7s/^POINTS 450$/POINTS 451/' "$good" >count-too-large.srf
sed '7s/^POINTS 450$/POINTS 449/' "$good" >count-too-small.srf
refuses() {  # refuses PATTERN [ENV=VALUE] ARGUMENT...
  local pattern=$1 err
  shift
  local settings=()
  while [[ "${1:-}" == *=* ]]; do settings+=("$1"); shift; done
  err=$(env ${settings[@]+"${settings[@]}"} "$tool" "$@" 2>&1 >/dev/null) && return 1
  [[ "$err" =~ $pattern ]] || { echo "  said: $err"; return 1; }
  [ -z "$(find "$work/bad" -name '*.png*' -o -name '.plot-srf*')" ]
}
while IFS='|' read -r what pattern arguments; do
  read -ra args <<<"$arguments"
  check "refuses $what" refuses "$pattern" "${args[@]}"
done <<'TABLE'
a file that is not SRF|^plot-srf: not-srf.srf, line 4: "id,lon,.*": not the version line of an SRF file|not-srf.srf
an empty file|^plot-srf: empty.srf: no SRF version line|empty.srf
an unknown version|^plot-srf: version-3.srf, line 1: "3.0": not the version line|version-3.srf
a file truncated in the samples|^plot-srf: truncated.srf, line 100: the file ends after 150 of the 182 slip-rate samples of point 3 of the POINTS block at line 7|truncated.srf
a file truncated in a header|^plot-srf: truncated-header.srf, line 74: the file ends inside the header of point 3 of the POINTS block at line 7 \(after 10 of its 17 values\)|truncated-header.srf
a bad number|^plot-srf: bad-number.srf, line 12: "1.2.3": not a number \(slip-rate sample [0-9]+ of [0-9]+ of point 1 |bad-number.srf
a count that is not whole|^plot-srf: fractional-nt1.srf, line 9: nt1 = 36.2: must be a whole number >= 0|fractional-nt1.srf
a slipping point without vs|^plot-srf: no-vs.srf, line 8: vs = 0, den = 2.7: must be > 0|no-vs.srf
a POINTS count too large|^plot-srf: count-too-large.srf, line [0-9]+: "POINTS": expected point 451 of the 451|count-too-large.srf
a POINTS count too small|^plot-srf: count-too-small.srf, line [0-9]+: "[-0-9.]+": expected POINTS or the end of the file after the 449 points|count-too-small.srf
a rigidity that is not a number > 0|^plot-srf: --rigidity -3e10: must be a number > 0|../ours/trace-1.0.srf out.png --rigidity -3e10
a missing file|^plot-srf: nope.srf not found|nope.srf
an output over the file|would overwrite the SRF file|../ours/trace-1.0.srf ../ours/trace-1.0.srf
an unknown option|^plot-srf: unknown option: -x|-x not-srf.srf
a missing gnuplot|^plot-srf: gnuplot not found: install gnuplot-nox|GNUPLOT=/nonexistent/gnuplot ../ours/trace-1.0.srf out.png
TABLE

# A file-size limit (as a full disk) stops it with a reason, nothing written;
# an output that is a link gets the picture where it leads, the link kept.
check "refuses a full disk" eval '! (ulimit -f 20; "$tool" ../ours/trace-1.0.srf out.png 2>err) &&
  grep -q "a full disk or a file-size limit" err && [ -z "$(find . -name "*.png*" -o -name ".plot-srf*")" ]'
ln -s followed.png link.png
check "an output link leads to the picture" eval '"$tool" ../ours/trace-1.0.srf link.png >/dev/null && [ -L link.png ] &&
  png_ok followed.png 1000 700'

summary
