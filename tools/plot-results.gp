# Called by plot-results with slip_files and amp_files (space-separated CSV
# files in the current folder), names (one curve name each, or "" for a single
# unnamed curve), what (the title's file part), slip_png, amp_png (output
# files) and tmax (s).
set datafile separator ","
set terminal pngcairo size 1000,1000 enhanced font "sans,11" linewidth 1.5
n = words(slip_files)
name(i) = (names eq "" ? "" : word(names, i))
colour(i) = word("#1f4e9a #b03030 #2a8a3a #d08a1a #6a3d9a #1a9a9a #9a1a6a #555555", (i - 1) % 8 + 1)

# Velocity, slip and acceleration in three panels over one time axis.
set output slip_png
set multiplot layout 3,1 title "Slip-velocity function (".what.")" noenhanced margins 0.1,0.96,0.07,0.93 spacing 0,0.04
set grid
if (names eq "") { unset key } else { set key top right box opaque noenhanced }
set xrange [0:tmax]
set format x ""
set ylabel "slip velocity (m/s)"
plot for [i=1:n] word(slip_files, i) every ::1 using 1:2 with lines lc rgb (n == 1 ? "#1f4e9a" : colour(i)) title name(i)
unset key
set ylabel "slip (m)"
plot for [i=1:n] word(slip_files, i) every ::1 using 1:3 with lines lc rgb (n == 1 ? "#2a8a3a" : colour(i)) notitle
set format x "%g"
set xlabel "time (s)"
set ylabel "slip acceleration (m/s^2)"
plot for [i=1:n] word(slip_files, i) every ::1 using 1:4 with lines lc rgb (n == 1 ? "#b03030" : colour(i)) notitle
unset multiplot
unset xlabel
unset xrange

# Amplitude spectra of velocity and acceleration, log-log: solid velocity,
# dashed acceleration, one colour a source.
set output amp_png
set terminal pngcairo size 1000,700 enhanced font "sans,11" linewidth 1.5
set title "Amplitude spectra (".what.")" noenhanced
set logscale xy
set format x "10^{%L}"
set format y "10^{%L}"
set xlabel "frequency (Hz)"
set ylabel "Fourier amplitude"
set autoscale xfix
set key bottom left box opaque noenhanced
set grid xtics ytics
acceleration_dash = (n == 1 ? 1 : 2)
suffix(i, kind) = (names eq "" ? kind : word(names, i)." ".kind)
plot for [i=1:n] word(amp_files, i) every ::1 using 1:2 with lines lc rgb (n == 1 ? "#1f4e9a" : colour(i)) \
       title suffix(i, "slip velocity (m)"), \
     for [i=1:n] word(amp_files, i) every ::1 using 1:3 with lines lc rgb (n == 1 ? "#b03030" : colour(i)) \
       dt acceleration_dash title suffix(i, "slip acceleration (m/s)")
unset output
