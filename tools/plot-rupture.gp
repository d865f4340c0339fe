# Called by plot-rupture with data (the folder plot-rupture.awk wrote),
# rupture_png (output file) and rate_png (output file, or "" for none; then
# data holds moment_rate.csv and moment.gp).
load data."/fault.gp"

# Slip over the unfolded fault: down dip grows downward, one km on both axes
# unless the fault is too long or too deep for that to stay readable.
aspect = real(max_width) / total_length
height = 220 + 1140 * (aspect < 0.15 ? 0.15 : aspect > 0.8 ? 0.8 : aspect)
set terminal pngcairo size 1400,height enhanced font "sans,11" linewidth 1.5

# Rupture-time contours: lines into $contours, then one label a line at its
# middle point (short pieces across a corner go without). Empty ones are left
# out of the plot, which gnuplot would warn about.
drawn = 0
labelled = 0
shortest = 0.1 * (max_width < total_length ? max_width : total_length)
# A word of the table as a number: gnuplot reads "1e-05" as 1 and text after.
num(s) = (strstrt(s, "e") > 0 && strstrt(s, ".") == 0 ? s[1:strstrt(s, "e") - 1].".0".s[strstrt(s, "e"):] : s) + 0
# From a piece's first point to its middle one: closed rings count too.
piece_length(block, count) = sqrt((num(word(block, 3 * (count / 2) + 1)) - num(word(block, 1))) ** 2 + \
                                  (num(word(block, 3 * (count / 2) + 2)) - num(word(block, 2))) ** 2)
if (contours) {
  set table $contours
  set contour base
  unset surface
  set cntrparam linear levels incremental first, step, t_max
  splot data."/grid" using 1:2:3 with lines
  unset table
  unset contour
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
        print word(block, 3 * middle + 1), word(block, 3 * middle + 2), word(block, 3)
        labelled = labelled + 1
      }
      count = 0
      block = ""
    }
  }
  unset print
}
contour_lines = drawn == 0 ? "" : \
  sprintf("$contours using 1:2 with lines lc rgb '#1f4e9a' lw 1.2 title 'rupture time (s), every %g s', ", step)
contour_labels = labelled == 0 ? "" : \
  "$labels using 1:2:(sprintf('%g', $3)) with labels font 'sans,10' tc rgb '#1f4e9a' boxed notitle, "

set output rupture_png
set title "Slip and rupture time over the unfolded fault" noenhanced
set xlabel "along strike (km)"
set ylabel "down dip (km)"
set xrange [0:total_length]
set yrange [max_width:0]
if (aspect >= 0.15 && aspect <= 0.8) { set size ratio -1 }
set cbrange [0:(max_slip > 0 ? max_slip : 1)]
set cblabel "slip (m)"
set palette defined (0 "#fffbe6", 0.2 "#fde08a", 0.45 "#f59a3c", 0.7 "#d43d2a", 1 "#5c0a1a")
set key below horizontal noenhanced height 1
set tics out nomirror
# Grey where no segment reaches, so that zero slip (near white) stands apart.
set object 1 rectangle from graph 0,0 to graph 1,1 behind fillcolor rgb "#d0d0d0" fillstyle solid 1 noborder
set style fill solid 1 noborder
set style textbox opaque noborder margins 1,1
plot data."/boxes" using 1:2:3:4:5 with boxxyerror lc palette notitle, \
     data."/segments" using 1:2:3:4 with boxxyerror fs empty lc rgb "black" lw 1.5 title "segments", \
     @contour_lines @contour_labels \
     "+" using (hyp_u):(hyp_d) every ::0::0 with points pt 3 ps 4 lw 2.5 lc rgb "#00a050" title "hypocentre"
unset output

if (rate_png ne "") {
  load data."/moment.gp"
  reset
  set terminal pngcairo size 1000,600 enhanced font "sans,11" linewidth 1.5
  set output rate_png
  set datafile separator ","
  set title (m0 > 0 ? sprintf("Moment rate: M_0 = %.3g N·m, M_w = %.2f", m0, mw) : "Moment rate: M_0 = 0 N·m")
  set xlabel "time (s)"
  set ylabel "moment rate (N·m/s)"
  set format y "%.1te%+T"
  set grid
  set autoscale xfix
  if (m0 > 0) { set yrange [0:*] } else { set yrange [0:1] }
  unset key
  plot data."/moment_rate.csv" every ::1 using 1:2 with lines lc rgb "#1f4e9a"
  unset output
}
