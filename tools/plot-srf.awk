# Called by plot-srf on one SRF file, twice: with -v pass=1 it checks the
# whole file and writes into the folder data
#   cells     depth, then the four corners (lon lat) of the point's patch seen
#             from above, then its total slip (m), one point a line, unsorted
#   grid      lon lat tinit on a regular grid over the map, one row of constant
#             lat a block, NaN where no point's patch lies
#   planes    the outline of each plane of the PLANE block seen from above (lon
#             lat), its top edge first, one block a plane
#   srf.gp    gnuplot settings: ranges, aspect, epicentre, contour step, M0, Mw
#             and the title
#   title     the title, as a line of text
#   axis      h g0 g1 version: the moment-rate function's time step and first
#             and last steps (times g*h), and the file's version
# and with -v pass=2 -v h=H -v g0=G0 -v g1=G1 (from axis) it writes
#   rate      time (s) and moment rate (N*m/s), one step a line
# Other variables: data (the folder), rigidity (Pa, for version 1.0) and name
# (the file's name for the title). On a fault in the file it prints the file,
# the line, the value and the rule broken, and exits 1.
#
# The file is read as the format defines it, a stream of blank-separated
# tokens however they are laid out on lines: the version (1.0 or 2.0) alone on
# the first line, an optional PLANE block (a count, then 11 values a plane),
# then POINTS blocks (a count, then per point 8 values in 1.0 or 10 in 2.0,
# the 7 values rake slip1 nt1 slip2 nt2 slip3 nt3, and nt1 + nt2 + nt3
# slip-rate samples: slip1's, then slip2's, then slip3's). Blank lines and
# lines that start with # are skipped. Units as the file has them: degrees,
# km, area cm^2, times s, slip cm, slip rate cm/s, vs cm/s, den g/cm^3.

function fault(line, text) { printf "%s, line %d: %s\n", FILENAME, line, text; failed = 1; exit 1 }
function is_number(text) { return text ~ /^[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]+)?$/ }
function is_count(text) { return text ~ /^[+]?[0-9]+$/ }
function max(a, b) { return a > b ? a : b }
function abs(a) { return a < 0 ? -a : a }

# Where a value is, for messages.
function where_in_point() { return "point " point " of the POINTS block at line " block_line }

# For a header that may be samples: counts before it that are wrong.
function misaligned() { return point > 1 ? "; if this is no point's header, an nt1, nt2 or nt3 before it is wrong" : "" }

function expected_after_block() {
  return "POINTS or the end of the file after the " block_size " points of the POINTS block at line " block_line
}

BEGIN {
  split("lon lat dep stk dip area tinit dt vs den", head_name, " ")
  split("rake slip1 nt1 slip2 nt2 slip3 nt3", second_name, " ")
  split("elon elat nstk ndip len wid stk dip dtop shyp dhyp", plane_name, " ")
  state = "version"
}

{ sub(/\r$/, "") }
NF == 0 || $1 ~ /^#/ { next }
{ last_line = FNR }

state == "version" {
  if (NF != 1 || !is_number($1) || ($1 + 0 != 1 && $1 + 0 != 2))
    fault(FNR, "\"" $0 "\": not the version line of an SRF file (1.0 or 2.0 alone on the first line)")
  version = $1 + 0 == 1 ? "1.0" : "2.0"
  head_fields = version == "1.0" ? 8 : 10
  state = "keyword"
  next
}

{ for (f = 1; f <= NF; f++) take($f) }

function take(x,    word, i) {
  if (state == "keyword") {
    word = toupper(x)
    if (word == "PLANE" && !planes_seen && !blocks) { state = "plane count"; plane_line = FNR; return }
    if (word == "POINTS") { state = "points count"; block_line = FNR; return }
    fault(FNR, "\"" x "\": expected " (blocks ? expected_after_block() : planes_seen ? "POINTS" : "PLANE or POINTS"))
  }
  if (state == "plane count") {
    if (!is_count(x) || x + 0 < 1) fault(FNR, "PLANE count = \"" x "\": must be a whole number >= 1")
    planes_seen = x + 0; plane = 1; field = 0; state = "plane"
    return
  }
  if (state == "plane") {
    field++
    if (!is_number(x)) fault(FNR, plane_name[field] " = \"" x "\": not a number (plane " plane " of the PLANE block at line " plane_line ")")
    if ((field == 3 || field == 4) && (!is_count(x) || x + 0 < 1))
      fault(FNR, plane_name[field] " = " x ": must be a whole number >= 1 (plane " plane ")")
    if ((field == 5 || field == 6) && x + 0 <= 0) fault(FNR, plane_name[field] " = " x ": must be > 0 km (plane " plane ")")
    plane_value[plane, field] = x + 0
    if (field == 11) { field = 0; if (++plane > planes_seen) state = "keyword" }
    return
  }
  if (state == "points count") {
    if (!is_count(x)) fault(FNR, "POINTS count = \"" x "\": must be a whole number >= 0")
    block_size = x + 0; blocks++; point = 0
    if (block_size > 0) start_point()
    else state = "keyword"
    return
  }
  if (state == "head") {
    field++
    field_line[field] = FNR
    if (field == 1 && toupper(x) == "POINTS")
      fault(FNR, "\"" x "\": expected point " point " of the " block_size " the POINTS block at line " block_line " counts (is its count too large?)")
    if (!is_number(x)) {
      fault(FNR, (field <= head_fields ? head_name[field] : second_name[field - head_fields]) " = \"" x "\": not a number (" \
                 where_in_point() misaligned() ")")
    }
    i = field - head_fields
    if ((i == 3 || i == 5 || i == 7) && !is_count(x))
      fault(FNR, second_name[i] " = " x ": must be a whole number >= 0 (" where_in_point() misaligned() ")")
    value[field] = x + 0
    if (field == head_fields + 7) end_head()
    return
  }
  # state == "samples"
  if (!is_number(x)) {
    fault(FNR, "\"" x "\": not a number (slip-rate sample " (taken + 1) " of " samples " of " where_in_point() \
               (toupper(x) == "POINTS" ? "; are its counts nt1, nt2, nt3 too large?" : "") ")")
  }
  taken++
  if (taken <= nt1) rate1[taken] = x + 0
  else if (taken <= nt1 + nt2) rate2[taken - nt1] = x + 0
  else rate3[taken - nt1 - nt2] = x + 0
  if (taken == samples) end_point()
}

function start_point() { point++; points++; field = 0; state = "head" }

# Checks the point's header values, all numbers, against the format's rules.
function end_head() {
  if (value[1] < -360 || value[1] > 360) fault(field_line[1], "lon = " value[1] ": must be within -360 to 360 degrees (" where_in_point() ")")
  if (value[2] < -90 || value[2] > 90) fault(field_line[2], "lat = " value[2] ": must be within -90 to 90 degrees (" where_in_point() ")")
  if (value[5] < 0 || value[5] > 90) fault(field_line[5], "dip = " value[5] ": must be within 0 to 90 degrees (" where_in_point() ")")
  if (value[6] <= 0) fault(field_line[6], "area = " value[6] ": must be > 0 cm^2 (" where_in_point() ")")
  nt1 = value[head_fields + 3]; nt2 = value[head_fields + 5]; nt3 = value[head_fields + 7]
  samples = nt1 + nt2 + nt3
  if (samples > 0 && value[8] <= 0) fault(field_line[8], "dt = " value[8] ": must be > 0 s for a point with slip-rate samples (" where_in_point() ")")
  taken = 0
  if (samples == 0) end_point()
  else state = "samples"
}

# The point's slip-rate magnitude sqrt(rate1^2 + rate2^2 + rate3^2) at each
# step (cm/s), and what the point adds to the map and the moment.
function end_point(    n, k, r, sum, mu, area_m2, dt, tinit, g, p, j, f, first, last) {
  n = max(nt1, max(nt2, nt3))
  for (k = 1; k <= n; k++) {
    r = (k <= nt1 ? rate1[k] ^ 2 : 0) + (k <= nt2 ? rate2[k] ^ 2 : 0) + (k <= nt3 ? rate3[k] ^ 2 : 0)
    magnitude[k] = sqrt(r)
    sum += magnitude[k]
  }
  if (version == "2.0") {
    if (sum > 0 && (value[9] <= 0 || value[10] <= 0))
      fault(field_line[9], "vs = " value[9] ", den = " value[10] ": must be > 0 (cm/s, g/cm^3) for a point that slips (" where_in_point() ")")
    mu = value[10] * 1000 * (value[9] / 100) ^ 2  # kg/m^3 times (m/s)^2
  } else mu = rigidity
  area_m2 = value[6] * 1e-4
  dt = value[8]; tinit = value[7]
  moment += mu * area_m2 * dt * sum / 100  # slip rate in m/s
  if (pass == 1) {
    lon[points] = value[1]; lat[points] = value[2]; dep[points] = value[3]
    stk[points] = value[4]; dip[points] = value[5]; side[points] = sqrt(value[6]) * 1e-5  # km
    tinit_of[points] = tinit
    slip[points] = sqrt(value[head_fields + 2] ^ 2 + value[head_fields + 4] ^ 2 + value[head_fields + 6] ^ 2) / 100
    if (n > 0) {
      if (!timed || dt < min_dt) min_dt = dt
      if (!timed || tinit < t_first) t_first = tinit
      if (!timed || tinit + (n - 1) * dt > t_last) t_last = tinit + (n - 1) * dt
      timed = 1
    }
  } else if (n > 0 && sum > 0) {
    # The point's rate, linear between its samples at tinit + (k - 1) * dt,
    # at every step of the common axis that they span.
    first = int(tinit / h); if (first * h < tinit) first++
    last = int((tinit + (n - 1) * dt) / h); if (last * h > tinit + (n - 1) * dt) last--
    for (g = first; g <= last; g++) {
      p = (g * h - tinit) / dt
      j = int(p); if (j > n - 2) j = n - 2; if (j < 0) j = 0
      f = n == 1 ? magnitude[1] : magnitude[j + 1] + (p - j) * (magnitude[j + 2] - magnitude[j + 1])
      rate[g] += mu * area_m2 * f / 100
    }
  }
  if (point < block_size) start_point()
  else state = "keyword"
}

END {
  if (failed) exit 1
  if (state == "version") { print FILENAME ": no SRF version line (the file is empty)"; exit 1 }
  if (state != "keyword" || blocks == 0) {
    if (state == "plane" || state == "plane count") text = "the file ends inside the PLANE block at line " plane_line
    else if (state == "points count" || blocks == 0) text = "the file ends before its POINTS block"
    else if (state == "head") text = "the file ends inside the header of " where_in_point() " (after " field " of its " head_fields + 7 " values)"
    else text = "the file ends after " taken " of the " samples " slip-rate samples of " where_in_point()
    print FILENAME ", line " last_line ": " text; exit 1
  }
  if (points == 0) { print FILENAME ", line " last_line ": no point in the file"; exit 1 }
  if (pass == 1) write_map()
  else {
    for (g = g0; g <= g1; g++) printf "%.9g %.9g\n", g * h, rate[g] + 0 > (data "/rate")
  }
}

# Map coordinates: km east and north of the middle of the points, on a plane
# tangent there (fine for a fault of some hundreds of km).
function east(longitude) { return (longitude - lon_mid) * km_east }
function north(latitude) { return (latitude - lat_mid) * km_north }
function put_corner(x, y) {
  corners = corners sprintf(" %.9g %.9g", lon_mid + x / km_east, lat_mid + y / km_north)
  if (x < x_min) x_min = x; if (x > x_max) x_max = x
  if (y < y_min) y_min = y; if (y > y_max) y_max = y
}
function put_point(file, x, y) { printf "%.9g %.9g\n", lon_mid + x / km_east, lat_mid + y / km_north > file }

# The rupture time at (x, y) km on the map, or "NaN" (see write_map).
function grid_time(x, y,    a, b, key, n, list, m, j, se, sn, de, dn, along, across, w, r, sw, sx1, sy1, sxx, sxy,
                            syy, st, sxt, syt, inside, low, high, mx, my, cxx, cxy, cyy, det, t, angle, ux, uy,
                            ss, sss, sst) {
  for (a = -1; a <= 1; a++) for (b = -1; b <= 1; b++) {
    key = (int((x - cx + sx) / cell) + a) SUBSEP (int((y - cy + sy) / cell) + b)
    if (!(key in members)) continue
    n = split(members[key], list, " ")
    for (m = 1; m <= n; m++) {
      j = list[m] + 0
      se = sin(stk[j] * rad); sn = cos(stk[j] * rad)
      de = east(lon[j]) - x; dn = north(lat[j]) - y
      along = abs(de * se + dn * sn); across = abs(de * sn - dn * se)
      w = side[j] * cos(dip[j] * rad)
      if (max(along - spacing / 2, 0) <= 0.5001 * side[j] && max(across - spacing / 2, 0) <= 0.5001 * w) inside = 1
      along /= side[j]; across = w > 1e-9 * side[j] ? across / w : across > 1e-9 * side[j] ? 1e9 : 0
      r = along * along + across * across
      if (r > 4) continue
      w = exp(-r)
      sw += w; sx1 += w * de; sy1 += w * dn; sxx += w * de * de; sxy += w * de * dn; syy += w * dn * dn
      st += w * tinit_of[j]; sxt += w * de * tinit_of[j]; syt += w * dn * tinit_of[j]
      if (low == "" || tinit_of[j] < low) low = tinit_of[j]
      if (high == "" || tinit_of[j] > high) high = tinit_of[j]
    }
  }
  if (!inside || sw == 0) return "NaN"
  # t = c0 + c1 de + c2 dn by weighted least squares, the time at the node
  # being c0; where the points lie on a line, t = c0 + c1 s along it; where
  # on one spot, their mean.
  mx = sx1 / sw; my = sy1 / sw
  cxx = sxx / sw - mx * mx; cxy = sxy / sw - mx * my; cyy = syy / sw - my * my
  if (cxx * cyy - cxy * cxy > 1e-4 * (cxx + cyy) ^ 2) {
    det = sw * (sxx * syy - sxy * sxy) - sx1 * (sx1 * syy - sxy * sy1) + sy1 * (sx1 * sxy - sxx * sy1)
    t = (st * (sxx * syy - sxy * sxy) - sx1 * (sxt * syy - sxy * syt) + sy1 * (sxt * sxy - sxx * syt)) / det
  } else if (cxx + cyy > 1e-12 * largest_side ^ 2) {
    angle = atan2(2 * cxy, cxx - cyy) / 2; ux = cos(angle); uy = sin(angle)
    ss = ux * sx1 + uy * sy1; sss = ux * ux * sxx + 2 * ux * uy * sxy + uy * uy * syy; sst = ux * sxt + uy * syt
    t = (st * sss - ss * sst) / (sw * sss - ss * ss)
  } else
    t = st / sw
  return t < low ? low : t > high ? high : t
}

# A single-quoted gnuplot string of the text.
function quoted(text) { gsub(/'/, "''", text); return "'" text "'" }

# Writes the map's files and the settings (see the top). Sets the globals
# grid_time uses: rad, cx, cy, sx, sy (the map's middle and size, km),
# spacing (of the grid's nodes, km), largest_side (km), cell and members (the
# points by square cells of the map).
function write_map(    i, k, lo, hi, shift, x, y, se, sn, de, dn, hl, hw, ratio, epicentre, largest,
                       gx, gy, nx, ny, key, t, defined, t_min, t_max, step, first, mw, title, settings, plane_text,
                       block_text, axis_h, g_first, g_last) {
  # Longitudes across the date line: counted on from 180.
  lo = hi = lon[1]
  for (i = 1; i <= points; i++) { if (lon[i] < lo) lo = lon[i]; if (lon[i] > hi) hi = lon[i] }
  shift = hi - lo > 180
  lo = hi = ""
  for (i = 1; i <= points; i++) {
    if (shift && lon[i] < 0) lon[i] += 360
    if (lo == "" || lon[i] < lo) lo = lon[i]; if (hi == "" || lon[i] > hi) hi = lon[i]
    if (i == 1 || lat[i] < lat_lo) lat_lo = lat[i]; if (i == 1 || lat[i] > lat_hi) lat_hi = lat[i]
  }
  lon_mid = (lo + hi) / 2; lat_mid = (lat_lo + lat_hi) / 2
  rad = atan2(0, -1) / 180
  km_north = 111.195; km_east = max(km_north * cos(lat_mid * rad), 1)
  x_min = y_min = 1e300; x_max = y_max = -1e300

  # Each point's patch seen from above: a square of its area on the fault,
  # along strike and down dip (at least a tenth of its side across, so that
  # the points of a vertical fault show).
  for (i = 1; i <= points; i++) {
    x = east(lon[i]); y = north(lat[i])
    se = sin(stk[i] * rad); sn = cos(stk[i] * rad); de = sn; dn = -se
    hl = side[i] / 2; hw = max(side[i] * cos(dip[i] * rad), 0.1 * side[i]) / 2
    corners = ""
    put_corner(x - hl * se - hw * de, y - hl * sn - hw * dn); put_corner(x + hl * se - hw * de, y + hl * sn - hw * dn)
    put_corner(x + hl * se + hw * de, y + hl * sn + hw * dn); put_corner(x - hl * se + hw * de, y - hl * sn + hw * dn)
    printf "%.9g%s %.9g\n", dep[i], corners, slip[i] > (data "/cells")
    if (slip[i] > largest) largest = slip[i]
    if (i == 1 || tinit_of[i] < tinit_of[epicentre]) epicentre = i
    if (i == 1 || tinit_of[i] > t_max) t_max = tinit_of[i]
  }
  t_min = tinit_of[epicentre]

  # The planes: outline, then the top edge on its own.
  for (k = 1; k <= planes_seen; k++) {
    if (shift && plane_value[k, 1] < 0) plane_value[k, 1] += 360
    x = east(plane_value[k, 1]); y = north(plane_value[k, 2])
    se = sin(plane_value[k, 7] * rad); sn = cos(plane_value[k, 7] * rad); de = sn; dn = -se
    hl = plane_value[k, 5] / 2; hw = plane_value[k, 6] * cos(plane_value[k, 8] * rad)
    if (k > 1) { printf "\n" > (data "/planes"); printf "\n" > (data "/tops") }
    put_point(data "/planes", x - hl * se, y - hl * sn); put_point(data "/planes", x + hl * se, y + hl * sn)
    put_point(data "/planes", x + hl * se + hw * de, y + hl * sn + hw * dn)
    put_point(data "/planes", x - hl * se + hw * de, y - hl * sn + hw * dn); put_point(data "/planes", x - hl * se, y - hl * sn)
    put_point(data "/tops", x - hl * se, y - hl * sn); put_point(data "/tops", x + hl * se, y + hl * sn)
    corners = ""
    put_corner(x - hl * se, y - hl * sn); put_corner(x + hl * se, y + hl * sn)
    put_corner(x + hl * se + hw * de, y + hl * sn + hw * dn); put_corner(x - hl * se + hw * de, y - hl * sn + hw * dn)
  }

  # The map's range: a margin around everything, widened across or along so
  # that the picture is neither too flat nor too tall with km square.
  sx = max(x_max - x_min, 1e-3); sy = max(y_max - y_min, 1e-3)
  cx = (x_min + x_max) / 2; cy = (y_min + y_max) / 2
  sx = max(sx * 1.08, sx + 1); sy = max(sy * 1.08, sy + 1)
  ratio = sy / sx
  if (ratio < 0.4) sy = 0.4 * sx
  if (ratio > 1.1) sx = sy / 1.1
  ratio = sy / sx

  # Rupture times on a grid over the map. At each node, the plane in map
  # coordinates that fits best the times of the points whose patches lie
  # near, each weighted by exp(-r^2) with r the distance in its own sides
  # along strike and down dip (a line where the points lie on one), kept
  # within their times. NaN where the node is on no patch (counting half the
  # node spacing as on it), so a vertical fault, a line on the map, has none.
  spacing = max(sx, sy) / 200
  for (i = 1; i <= points; i++) if (side[i] > largest_side) largest_side = side[i]
  cell = 3 * largest_side + spacing
  for (i = 1; i <= points; i++) {
    key = int((east(lon[i]) - cx + sx) / cell) SUBSEP int((north(lat[i]) - cy + sy) / cell)
    members[key] = members[key] " " i
  }
  nx = int(sx / spacing) + 1; ny = int(sy / spacing) + 1
  for (gy = 0; gy <= ny; gy++) {
    y = cy - sy / 2 + gy * sy / ny
    for (gx = 0; gx <= nx; gx++) {
      x = cx - sx / 2 + gx * sx / nx
      t = grid_time(x, y)
      if (t == "NaN") printf "%.9g %.9g NaN\n", lon_mid + x / km_east, lat_mid + y / km_north > (data "/grid")
      else { defined++; printf "%.9g %.9g %.9g\n", lon_mid + x / km_east, lat_mid + y / km_north, t > (data "/grid") }
    }
    printf "\n" > (data "/grid")
  }

  step = t_max > t_min ? contour_step(t_max - t_min) : 0
  first = step > 0 ? (int(t_min / step) + 1) * step : 0
  mw = moment > 0 ? (2 / 3) * (log(moment) / log(10) - 9.1) : 0
  plane_text = planes_seen == 0 ? "no PLANE block" : planes_seen == 1 ? "1 plane" : planes_seen " planes"
  block_text = blocks == 1 ? "1 POINTS block" : blocks " POINTS blocks"
  title = sprintf("%s (SRF %s, %s, %d point%s in %s): M0 = %s N·m%s", name, version, plane_text, points, points == 1 ? "" : "s", block_text,
                  moment > 0 ? sprintf("%.5g", moment) : "0", moment > 0 ? sprintf(", Mw = %.2f", mw) : "")
  print title > (data "/title")
  settings = data "/srf.gp"
  printf "x_min = %.9g\nx_max = %.9g\ny_min = %.9g\ny_max = %.9g\nratio = %.9g\n", lon_mid + (cx - sx / 2) / km_east,
         lon_mid + (cx + sx / 2) / km_east, lat_mid + (cy - sy / 2) / km_north, lat_mid + (cy + sy / 2) / km_north, ratio > settings
  printf "epi_lon = %.9g\nepi_lat = %.9g\nepi_dep = %.9g\nepi_t = %.9g\n", lon[epicentre], lat[epicentre],
         dep[epicentre], tinit_of[epicentre] > settings
  printf "max_slip = %.9g\nplanes = %d\ncontours = %d\nstep = %.9g\nfirst = %.9g\nt_max = %.9g\n", largest, planes_seen,
         (step > 0 && defined >= 4), step, first, t_max > settings
  printf "m0 = %.17g\nmw = %.17g\nlon_mid = %.17g\nlat_mid = %.17g\n", moment, mw, lon_mid, lat_mid > settings
  # Enough decimals on the axes for about ten distinct tics.
  printf "degrees_format = \"%%.%df\"\n", max(2, 1 - int(log(sx / km_north / 10) / log(10))) > settings
  printf "rate_title = %s\ntitle = %s\n", quoted(version == "1.0" ? \
    sprintf("Moment rate: Σ μ·area·slip rate over the points, μ = %g Pa (--rigidity)", rigidity) : \
    "Moment rate: Σ μ·area·slip rate over the points, μ = den·vs² of each point"), quoted(title) > settings

  # The moment-rate function's axis: steps of the smallest dt (at most 200000
  # of them), one beyond each end.
  axis_h = timed ? min_dt : 1
  if (timed && (t_last - t_first) / axis_h > 200000) axis_h = (t_last - t_first) / 200000
  g_first = timed ? int(t_first / axis_h) : 0; if (g_first * axis_h > t_first) g_first--
  g_last = timed ? int(t_last / axis_h) : 1; if (g_last * axis_h < t_last) g_last++
  printf "%.17g %d %d %s\n", axis_h, g_first - 1, g_last + 1, version > (data "/axis")
  printf "rate_t0 = %.9g\nrate_t1 = %.9g\n", (timed && t_first < 0 ? (g_first - 1) * axis_h : 0), (g_last + 1) * axis_h > settings
}
