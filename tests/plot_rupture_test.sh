#!/usr/bin/env bash
# Runs tools/plot-rupture on hand-made slipvel-rupture files in a temporary
# folder and checks the pictures and the refusals. Exits 77 (skipped) without
# gnuplot.
# Usage: plot_rupture_test.sh TOOL
set -uo pipefail
tool=$(realpath "$1")
. "$(dirname "$0")/plot_checks.sh"

# PLANES rows "nstk ndip len wid" -> planes.csv and points.csv of DIR: the
# hypocentre 8 km along strike, 7 km down dip, rupture times at 3 km/s (or,
# with TIMES = plane, 0.5 + 0.3 u + 0.2 d s at u km along strike, d km down
# dip), slip 0.5 m with a 2 m patch at 14 km along strike, 5 km down dip.
make_fault() {  # make_fault DIR POINTS_HEADER_TAIL TIMES SEGMENT...
  local dir=$1 tail=$2 times=$3
  shift 3
  mkdir -p "$dir"
  printf '%s\n' "$@" | awk -v dir="$dir" -v tail="$tail" -v times="$times" '
    BEGIN { print "elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp" > (dir "/planes.csv")
            print "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts" tail > (dir "/points.csv") }
    { k = NR; ns = $1; nd = $2; len = $3; wid = $4
      printf "140,36,%d,%d,%g,%g,30,45,1,%g,7\n", ns, nd, len, wid, 8 - (start + len / 2) > (dir "/planes.csv")
      for (j = 0; j < nd; j++) for (i = 0; i < ns; i++) {
        u = start + (i + 0.5) * len / ns; d = (j + 0.5) * wid / nd
        slip = 0.5 + ((u - 14) ^ 2 + (d - 5) ^ 2 < 16 ? 1.5 : 0)
        printf "%d-%d-%d,140,36,%g,30,45,90,4e6,%g,0.01,100,5,1,%g,1,0.2%s\n", k, i, j, d,
          (times == "plane" ? 0.5 + 0.3 * u + 0.2 * d : sqrt((u - 8) ^ 2 + (d - 7) ^ 2) / 3), slip, (tail == "" ? "" : ",3.5,2.7") > (dir "/points.csv")
      }
      start += len }'
}
make_fault "$work/one" ",vs,den" cone "12 6 24 12"
make_fault "$work/two" "" cone "10 5 30 15" "8 3 24 9"
make_fault "$work/single" "" cone "1 1 10 5"
awk 'BEGIN { print "time(s),moment_rate(N*m/s)"
             for (k = 0; k <= 200; k++) { t = k * 0.05; printf "%g,%g\n", t, (t < 8 ? 1e18 * sin(3.14159 * t / 8) ^ 2 : 0) } }' \
  > "$work/one/moment_rate.csv"

cd "$work/one"
check "one segment with a moment rate" "$tool" points.csv planes.csv moment_rate.csv
check "rupture.png is a PNG of a sensible size" png_ok rupture.png 800 500
check "moment_rate.png is a PNG of a sensible size" png_ok moment_rate.png 800 500
mkdir "$work/out"
check "two segments of different widths into -o DIR" "$tool" -o "$work/out" ../two/points.csv ../two/planes.csv
check "only rupture.png there" test "$(ls "$work/out")" = rupture.png
check "the default folder is that of POINTS" "$tool" ../two/points.csv ../two/planes.csv
check "rupture.png beside the points" png_ok ../two/rupture.png 800 500
check "a single subfault: no contours to draw" "$tool" ../single/points.csv ../single/planes.csv
check "--help answers" bash -c "'$tool' --help | grep -q '^Usage: tools/plot-rupture'"

# The contoured rupture times: one grid over the whole unfolded fault, rows of
# equal length, NaN exactly below the narrower segments, and elsewhere times
# that a plane in (u, d) keeps exactly, across the joins and out to the edges.
grid_ok() {  # grid_ok DIR: runs plot-rupture.awk on DIR's files
  mkdir -p "$1/data" &&
    awk -F, -v data="$1/data" -f "$(dirname "$tool")/contours.awk" -f "$(dirname "$tool")/plot-rupture.awk" "$1/planes.csv" "$1/points.csv" &&
    awk -v planes="$1/planes.csv" '
      BEGIN { FS = ","; getline < planes; while ((getline < planes) > 0) { n++; end[n] = total += $5; wid[n] = $6 }; FS = " " }
      NF == 0 { if (blank++) { print "  two blank lines: several grids"; exit 1 }
                if (length_of_first && row != length_of_first) { print "  rows of " length_of_first " and " row " nodes"; exit 1 }
                if (!length_of_first) length_of_first = row; row = 0; next }
      { blank = 0; row++; nodes++
        for (k = 1; k < n && $1 > end[k] + 1e-9; k++) {}
        join = k < n && $1 > end[k] - 1e-9  # on a join: either segment holds it
        undefined = $3 == "NaN"
        if (undefined != ($2 > wid[k] + 1e-9) && !(join && ($2 > wid[k + 1] + 1e-9) == undefined)) {
          print "  node " $0 ": " (undefined ? "undefined on" : "defined below") " segment " k; exit 1 }
        if (!undefined && ($3 - (0.5 + 0.3 * $1 + 0.2 * $2)) ^ 2 > 1e-18) { print "  node " $0 ": wrong time"; exit 1 } }
      END { if (nodes < 9 || length_of_first < 3) { print "  only " nodes " nodes"; exit 1 } }' "$1/data/grid"
}
while read -r what segments; do
  read -ra rows <<<"$segments"
  make_fault "$work/grid/$what" "" plane "${rows[@]//,/ }"
  check "one grid of rupture times over $what" grid_ok "$work/grid/$what"
done <<'TABLE'
one-segment 12,6,24,12
segments-of-different-subfaults 10,5,30,15 8,6,24,15 3,4,6,15
a-narrower-segment-between 10,5,30,15 8,3,24,9 5,5,10,15
a-one-column-segment 10,5,30,15 1,2,4,8 6,3,12,9
TABLE

# gnuplot reads a table's "1e-05" as 1 and text after: a contour through a
# point printed so must still be labelled.
mkdir "$work/tiny"
printf 'total_length = 4\nmax_width = 2\nhyp_u = 1\nhyp_d = 1\nmax_slip = 1\ncontours = 1\nstep = 1\nfirst = 1e-05\nt_max = 1\n' \
  >"$work/tiny/fault.gp"
echo "1 1 1 1 1 0" >"$work/tiny/boxes"
echo "2 1 2 1" >"$work/tiny/segments"
awk 'BEGIN { for (j = 0; j <= 2; j++) { for (i = 0; i <= 4; i++) print i, j, i; print "" } }' >"$work/tiny/grid"
check "a contour through u = 1e-05" gnuplot -e "data='$work/tiny'; rupture_png='$work/tiny/r.png'; rate_png=''" \
  "$(dirname "$tool")/plot-rupture.gp"

# Refusals: each names the fault and leaves no picture in the empty folder.
mkdir "$work/bad"
cd "$work/bad"
cp ../one/points.csv ../one/planes.csv ../one/moment_rate.csv .
sed 's/^1-3-2,/1-3,/' points.csv > bad_id.csv
sed 's/^1-3-2,/2-3-2,/' points.csv > no_plane.csv
sed '1s/slip/slp/' points.csv > foreign.csv
sed '1s/,dhyp$//' planes.csv > foreign_planes.csv
printf 'time,rate\n0,1\n1,1\n' > foreign_rate.csv
refuses() {  # refuses MESSAGE [ENV=VALUE] ARGUMENT...
  local message=$1 err
  shift
  local settings=()
  while [[ "${1:-}" == *=* ]]; do settings+=("$1"); shift; done
  err=$(env ${settings[@]+"${settings[@]}"} "$tool" -o "$work/bad" "$@" 2>&1 >/dev/null) && return 1
  [[ "$err" == *"$message"* ]] || { echo "  said: $err"; return 1; }
  [ -z "$(find "$work/bad" -name '*.png*')" ]
}
while IFS='|' read -r what message arguments; do
  read -ra args <<<"$arguments"
  check "refuses $what" refuses "$message" "${args[@]}"
done <<'TABLE'
a missing file|nope.csv not found|nope.csv planes.csv
a foreign points header|foreign.csv is not a slipvel-rupture points file|foreign.csv planes.csv
a foreign planes header|foreign_planes.csv is not a slipvel-rupture planes file|points.csv foreign_planes.csv
a foreign moment-rate header|foreign_rate.csv is not a slipvel-rupture moment rate file|points.csv planes.csv foreign_rate.csv
a bad id|id = "1-3": not of the form <segment>-<i>-<j>|bad_id.csv planes.csv
a segment without a plane|id = 2-3-2: segment 2 has no row in planes.csv|no_plane.csv planes.csv
an unknown option|unknown option: -x|-x points.csv planes.csv
a missing gnuplot|gnuplot not found: install gnuplot-nox|GNUPLOT=/nonexistent/gnuplot points.csv planes.csv
TABLE
check "refuses a full disk (a file-size limit), saying so" \
  eval '! (ulimit -f 1; "$tool" points.csv planes.csv 2>err) && grep -q "a full disk or a file-size limit" err &&
  [ -z "$(find "$work/bad" -name "*.png*")" ]'

summary
