# Called by plot-srf with data (the folder plot-srf.awk wrote, with the cells
# sorted into cells.sorted) and png (the output file): one picture of two
# panels, the map above, the moment-rate function below.
load data."/srf.gp"

# Pixels: the map's plot area is width - left - right wide and that times
# ratio high, so that a km east is as long as a km north; the moment-rate
# panel below it.
width = 1300
left = 120
right = 220
map_plot = (width - left - right) * ratio
rate_height = 380
height = int(70 + map_plot + 130 + rate_height)
set terminal pngcairo size width,height enhanced font "sans,11" linewidth 1.5
set output png

# Rupture-time contours: lines into $contours, then one label a line at its
# middle point (short pieces go without). Empty ones are left out of the
# plot, which gnuplot would warn about.
drawn = 0
labelled = 0
shortest = 0.1 * ((x_max - x_min) < (y_max - y_min) ? (x_max - x_min) : (y_max - y_min))
# A word of the table as a number: gnuplot reads "1e-05" as 1 and text after.
num(s) = (strstrt(s, "e") > 0 && strstrt(s, ".") == 0 ? s[1:strstrt(s, "e") - 1].".0".s[strstrt(s, "e"):] : s) + 0
piece_length(block, count) = sqrt((num(word(block, 3 * (count / 2) + 1)) - num(word(block, 1))) ** 2 + \
                                  (num(word(block, 3 * (count / 2) + 2)) - num(word(block, 2))) ** 2)
if (contours) {
  set table $contours
  set contour base
  unset surface
  set cntrparam linear levels incremental first, step, t_max
  # Relative to the middle of the map, since the table keeps 6 digits.
  splot data."/grid" using ($1 - lon_mid):($2 - lat_mid):3 with lines
  unset table
  unset contour
  set surface
  set print $labels
  count = 0
  block = ""
  do for [n = 1:|$contours| + 1] {
    line = (n <= |$contours| ? $contours[n] : "")
    if (strlen(line) > 0 && line[1:1] ne "#") {
      count = count + 1
      drawn = drawn + 1
      block = block.line."\n"
    } else {
      if (count >= 2 && piece_length(block, count) > shortest) {
        middle = count / 2
        print num(word(block, 3 * middle + 1)) + lon_mid, num(word(block, 3 * middle + 2)) + lat_mid, word(block, 3)
        labelled = labelled + 1
      }
      count = 0
      block = ""
    }
  }
  unset print
}
contour_lines = drawn == 0 ? "" : \
  sprintf("$contours using ($1 + lon_mid):($2 + lat_mid) with lines lc rgb '#1f4e9a' lw 1.2 title 'rupture time, every %g s', ", step)
contour_labels = labelled == 0 ? "" : \
  "$labels using 1:2:(sprintf('%g', $3)) with labels font 'sans,10' tc rgb '#1f4e9a' boxed notitle, "
plane_lines = planes == 0 ? "" : \
  "data.'/planes' using 1:2 with lines lc rgb 'black' lw 1 title 'planes, top edge bold', " . \
  "data.'/tops' using 1:2 with lines lc rgb 'black' lw 3 notitle, "

set multiplot
set label 1 title at screen 0.5, 1 - 25.0 / height center font "sans,13" noenhanced

# The map: each point's patch seen from above, deepest first, coloured by its
# total slip.
set lmargin at screen real(left) / width
set rmargin at screen 1 - real(right) / width
set tmargin at screen 1 - 70.0 / height
set bmargin at screen (rate_height + 130.0) / height
set xrange [x_min:x_max]
set yrange [y_min:y_max]
set xlabel "longitude (°)"
set ylabel "latitude (°)"
set format x degrees_format
set format y degrees_format
set tics out nomirror
set cbrange [0:(max_slip > 0 ? max_slip : 1)]
set cblabel "total slip (m), √(slip1² + slip2² + slip3²)"
set palette defined (0 "#fffbe6", 0.2 "#fde08a", 0.45 "#f59a3c", 0.7 "#d43d2a", 1 "#5c0a1a")
set colorbox user origin screen 1 - (right - 40.0) / width, screen (rate_height + 130.0) / height \
  size screen 30.0 / width, screen map_plot / height
set key at screen 0.5, screen (rate_height + 45.0) / height center bottom horizontal maxcols 3 maxrows 1 noenhanced \
  samplen 2 width 1
set label 2 sprintf("epicentre: %.4f°, %.4f°, %.2f km deep, tinit %.3g s", epi_lon, epi_lat, epi_dep, epi_t) \
  at screen 0.5, screen (rate_height + 20.0) / height center noenhanced
set object 1 rectangle from graph 0,0 to graph 1,1 behind fillcolor rgb "#d0d0d0" fillstyle solid 1 noborder
set style fill solid 1 noborder
set style textbox opaque noborder margins 1,1
plot data."/cells.sorted" using 1:2:3 with filledcurves closed fc palette notitle, \
     @plane_lines @contour_lines @contour_labels \
     "+" using (epi_lon):(epi_lat) every ::0::0 with points pt 3 ps 4 lw 2.5 lc rgb "#00a050" \
       title "epicentre (least tinit)"
unset object 1
unset label 1
unset label 2
unset colorbox

# The moment-rate function.
set tmargin at screen (rate_height - 40.0) / height
set bmargin at screen 60.0 / height
set title rate_title noenhanced
set xlabel "time (s)"
set ylabel "moment rate (N·m/s)"
set format x "%g"
set format y "%.1te%+T"
set grid
set xrange [rate_t0:rate_t1]
if (m0 > 0) { set yrange [0:*] } else { set yrange [0:1] }
unset key
plot data."/rate" using 1:2 with lines lc rgb "#1f4e9a"
unset multiplot
unset output
