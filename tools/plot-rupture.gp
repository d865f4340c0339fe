# Called by plot-rupture with work (its folder of data files: rectangles.dat,
# grid.dat), the settings of settings.gp (segments, total_u, deepest, hyp_u,
# hyp_d, step, boundaries), rupture_png, and with a moment-rate file also
# rate_file, rate_png, m0 and mw.
# The fault keeps its proportions (km for km): the picture's height follows them.
height = 260 + 900 * deepest / total_u
height = (height < 500 ? 500 : height > 1100 ? 1100 : height)
set terminal pngcairo size 1200,int(height) enhanced font "sans,11" linewidth 1.5

# Rupture-time contours of each segment's grid of subfault centres, as lines.
set table work."/contours.dat"
set contour base
unset surface
set view map
set cntrparam linear levels incremental 0, step
splot for [k=0:segments-1] work."/grid.dat" index k using 1:2:3 with lines notitle
unset table
unset contour

set output rupture_png
set title sprintf("Slip and rupture time (contours every %g s) over the unfolded fault", step)
set xlabel "along strike U (km)"
set ylabel "down dip d (km)"
set xrange [0:total_u]
set yrange [deepest:0]
set size ratio -1
set palette defined (0 "#ffffff", 1 "#fde68a", 2 "#f59e0b", 3 "#dc2626", 4 "#7f1d1d")
set cbrange [0:*]
set cblabel "slip (m)"
set style fill solid 1.0 noborder
set key below
do for [u in boundaries] { set arrow from u, 0 to u, deepest nohead lc rgb "#1f2937" dt 2 front }
plot work."/rectangles.dat" using 1:2:3:4:5 with boxxyerror lc palette notitle, \
     work."/contours.dat" using 1:2 with lines lc rgb "#1f4e9a" lw 1 title "rupture time", \
     work."/contours.dat" every 12::6 using 1:2:(sprintf("%g", $3)) with labels font ",9" tc rgb "#1f4e9a" \
       notitle, \
     "+" using (hyp_u):(hyp_d) every ::0::0 with points pt 3 ps 3 lw 2 lc rgb "#000000" title "hypocentre"
unset output

if (rate_file ne "") {
  reset
  set terminal pngcairo size 1000,600 enhanced font "sans,11" linewidth 1.5
  set output rate_png
  set datafile separator ","
  set title sprintf("Moment rate: M_0 = %s N·m, M_w %s", m0, mw)
  set xlabel "time (s)"
  set ylabel "moment rate (N·m/s)"
  set grid
  set autoscale xfix
  set yrange [0:*]
  plot rate_file every ::1 using 1:2 with lines lc rgb "#b03030" notitle
  unset output
}
