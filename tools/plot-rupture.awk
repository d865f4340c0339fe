# Called by plot-rupture with -F, on PLANES then POINTS (headers already
# checked) and data (a folder). Lays the segments end to end along strike and
# writes into data:
#   boxes     U d half-length half-width slip tinit, one subfault a line (km, m, s)
#   segments  U d half-length half-width, one segment a line
#   grid      U d tinit of the segments of at least 2x2 subfaults, one row of
#             constant j a block, segments apart by two blank lines
#   fault.gp  gnuplot settings: hypocentre, slip and time ranges, contour step
# On a fault in the input it prints the message and exits 1.

function fault(text) { print FILENAME ", line " FNR ": " text; failed = 1; exit 1 }
function is_number(text) { return text ~ /^[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]+)?$/ }
function is_count(text) { return text ~ /^[0-9]+$/ && text + 0 >= 1 }

# A round step (1, 2 or 5 times a power of ten) giving about eight levels.
function contour_step(span,    raw, power, m) {
  raw = span / 8
  power = 10 ^ int(log(raw) / log(10))
  if (power > raw) power /= 10
  m = raw / power
  return (m <= 1 ? 1 : m <= 2 ? 2 : m <= 5 ? 5 : 10) * power
}

FNR == 1 { next }

FILENAME == ARGV[1] {
  if (NF != 11) fault("expected 11 fields, found " NF)
  if (!is_count($3) || !is_count($4)) fault("nstk = " $3 ", ndip = " $4 ": must be whole numbers >= 1")
  if (!is_number($5) || !is_number($6) || $5 <= 0 || $6 <= 0) fault("len = " $5 ", wid = " $6 ": must be numbers > 0 (km)")
  if (!is_number($10) || !is_number($11)) fault("shyp = " $10 ", dhyp = " $11 ": must be numbers (km)")
  k = ++segments
  nstk[k] = $3 + 0; ndip[k] = $4 + 0; len[k] = $5 + 0; wid[k] = $6 + 0
  start[k] = total_length; total_length += len[k]
  if (k == 1) { hyp_u = len[1] / 2 + $10; hyp_d = $11 + 0 }
  next
}

{
  if (NF != 16 && NF != 18) fault("expected 16 or 18 fields, found " NF)
  if ($1 !~ /^[0-9]+-[0-9]+-[0-9]+$/) fault("id = \"" $1 "\": not of the form <segment>-<i>-<j>")
  split($1, part, "-")
  k = part[1] + 0; i = part[2] + 0; j = part[3] + 0
  if (k < 1 || k > segments) fault("id = " $1 ": segment " k " has no row in " ARGV[1] " (" segments " segments)")
  if (i >= nstk[k] || j >= ndip[k]) fault("id = " $1 ": outside segment " k "'s " nstk[k] " x " ndip[k] " subfaults")
  if ((k, i, j) in tinit) fault("id = " $1 ": a second row for this subfault")
  if (!is_number($9) || !is_number($14)) fault("id = " $1 ": tinit = " $9 ", slip = " $14 ": must be numbers")
  tinit[k, i, j] = $9 + 0; slip[k, i, j] = $14 + 0; rows++
}

END {
  if (failed) exit 1
  if (segments == 0) { print ARGV[1] ": no segment"; exit 1 }
  for (k = 1; k <= segments; k++) needed += nstk[k] * ndip[k]
  if (rows != needed) { print ARGV[2] ": " rows " subfaults, the segments of " ARGV[1] " hold " needed; exit 1 }

  contoured = 0
  for (k = 1; k <= segments; k++) {
    du = len[k] / nstk[k]; dd = wid[k] / ndip[k]
    printf "%.17g %.17g %.17g %.17g\n", start[k] + len[k] / 2, wid[k] / 2, len[k] / 2, wid[k] / 2 > (data "/segments")
    if (wid[k] > max_width) max_width = wid[k]
    gridded = nstk[k] >= 2 && ndip[k] >= 2
    if (gridded && contoured++) printf "\n\n" > (data "/grid")
    for (j = 0; j < ndip[k]; j++) {
      for (i = 0; i < nstk[k]; i++) {
        u = start[k] + (i + 0.5) * du; d = (j + 0.5) * dd; s = slip[k, i, j]; t = tinit[k, i, j]
        printf "%.17g %.17g %.17g %.17g %.17g %.17g\n", u, d, du / 2, dd / 2, s, t > (data "/boxes")
        if (gridded) printf "%.17g %.17g %.17g\n", u, d, t > (data "/grid")
        if (s > max_slip) max_slip = s
        if (k == 1 && i == 0 && j == 0 || t < t_min) t_min = t
        if (k == 1 && i == 0 && j == 0 || t > t_max) t_max = t
      }
      if (gridded) printf "\n" > (data "/grid")
    }
  }
  settings = data "/fault.gp"
  printf "total_length = %.17g\nmax_width = %.17g\n", total_length, max_width > settings
  printf "hyp_u = %.17g\nhyp_d = %.17g\nmax_slip = %.17g\n", hyp_u, hyp_d, max_slip > settings
  step = t_max > t_min ? contour_step(t_max - t_min) : 0
  first = step > 0 ? (int(t_min / step) + 1) * step : 0
  printf "contours = %d\nstep = %.17g\nfirst = %.17g\nt_max = %.17g\n", (contoured > 0 && step > 0), step, first, t_max > settings
}
