# Called by plot-rupture with -F, on PLANES then POINTS (headers already
# checked) and data (a folder). Lays the segments end to end along strike and
# writes into data:
#   boxes     U d half-length half-width slip tinit, one subfault a line (km, m, s)
#   segments  U d half-length half-width, one segment a line
#   grid      U d tinit on one regular grid over the whole unfolded fault, one
#             row of constant d a block: rupture times interpolated from the
#             subfault centres, within segments and across their joins, and NaN
#             below a segment narrower than the widest
#   fault.gp  gnuplot settings: hypocentre, slip and time ranges, contour step
# On a fault in the input it prints the message and exits 1.

function fault(text) { print FILENAME ", line " FNR ": " text; failed = 1; exit 1 }
function is_number(text) { return text ~ /^[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]+)?$/ }
function is_count(text) { return text ~ /^[0-9]+$/ && text + 0 >= 1 }

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

  for (k = 1; k <= segments; k++) {
    du = len[k] / nstk[k]; dd = wid[k] / ndip[k]
    printf "%.17g %.17g %.17g %.17g\n", start[k] + len[k] / 2, wid[k] / 2, len[k] / 2, wid[k] / 2 > (data "/segments")
    if (wid[k] > max_width) max_width = wid[k]
    if (k == 1 || du < finest) finest = du
    if (dd < finest) finest = dd
    for (i = 0; i < nstk[k]; i++) { columns++; column_u[columns] = start[k] + (i + 0.5) * du; column_k[columns] = k; column_i[columns] = i }
    for (j = 0; j < ndip[k]; j++) {
      for (i = 0; i < nstk[k]; i++) {
        u = start[k] + (i + 0.5) * du; d = (j + 0.5) * dd; s = slip[k, i, j]; t = tinit[k, i, j]
        printf "%.17g %.17g %.17g %.17g %.17g %.17g\n", u, d, du / 2, dd / 2, s, t > (data "/boxes")
        if (s > max_slip) max_slip = s
        if (k == 1 && i == 0 && j == 0 || t < t_min) t_min = t
        if (k == 1 && i == 0 && j == 0 || t > t_max) t_max = t
      }
    }
  }
  write_grid(data "/grid")
  settings = data "/fault.gp"
  printf "total_length = %.17g\nmax_width = %.17g\n", total_length, max_width > settings
  printf "hyp_u = %.17g\nhyp_d = %.17g\nmax_slip = %.17g\n", hyp_u, hyp_d, max_slip > settings
  step = t_max > t_min ? contour_step(t_max - t_min) : 0
  first = step > 0 ? (int(t_min / step) + 1) * step : 0
  printf "contours = %d\nstep = %.17g\nfirst = %.17g\nt_max = %.17g\n", (step > 0), step, first, t_max > settings
}

# Whether column c (the subfault centres of one i of a segment, in order
# along the whole fault) is there and reaches d down dip.
function reaches(c, d) { return c >= 1 && c <= columns && d <= wid[column_k[c]] * (1 + 1e-12) }

# The rupture time of column c at d down dip (which it reaches): linear
# between its two nearest centres, beyond the first and last ones too.
function column_time(c, d,    k, i, dd, p, j) {
  k = column_k[c]; i = column_i[c]
  if (ndip[k] == 1) return tinit[k, i, 0]
  dd = wid[k] / ndip[k]
  p = d / dd - 0.5
  j = int(p)
  if (p < 0) j = 0
  if (j > ndip[k] - 2) j = ndip[k] - 2
  return tinit[k, i, j] + (p - j) * (tinit[k, i, j + 1] - tinit[k, i, j])
}

# Writes the grid (see the top): nodes half the smallest subfault side apart,
# at most 601 x 301, at least 3 x 3. Between two neighbouring columns, those
# of one segment or the last of one and the first of the next, the time is
# linear along strike (beyond the first and last columns too); where only one
# of them reaches d, linear through that one and the one beyond it, on its
# side (its own time where that one does not reach d either).
function write_grid(file,    step, nu, nd, a, b, c, g, h, u, d, k, t, ta, tb) {
  step = finest / 2
  nu = int(total_length / step + 0.999999); if (nu > 600) nu = 600; if (nu < 2) nu = 2
  nd = int(max_width / step + 0.999999); if (nd > 300) nd = 300; if (nd < 2) nd = 2
  for (h = 0; h <= nd; h++) {
    d = h * max_width / nd
    c = 1; k = 1
    for (g = 0; g <= nu; g++) {
      u = g * total_length / nu
      while (k < segments && u > start[k] + len[k]) k++
      while (c < columns - 1 && u > column_u[c + 1]) c++  # c + 1 > columns for one column
      if (d > wid[k] * (1 + 1e-12)) { printf "%.17g %.17g NaN\n", u, d > file; continue }
      a = c; b = c + 1
      if (!reaches(b, d)) { a = c - 1; b = c } else if (!reaches(a, d)) { a = c + 1; b = c + 2 }
      if (!reaches(a, d)) a = b; else if (!reaches(b, d)) b = a
      ta = column_time(a, d); tb = column_time(b, d)
      t = a == b ? ta : ta + (u - column_u[a]) / (column_u[b] - column_u[a]) * (tb - ta)
      printf "%.17g %.17g %.17g\n", u, d, t > file
    }
    printf "\n" > file
  }
}
