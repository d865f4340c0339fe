# Called by plot-results with slip_png, amp_png (output files) and tmax (s).
set datafile separator ","
set terminal pngcairo size 1000,1000 enhanced font "sans,11" linewidth 1.5

# Velocity, slip and acceleration in three panels over one time axis.
set output slip_png
set multiplot layout 3,1 title "Slip-velocity function (Vek\\_Slip.csv)" margins 0.1,0.96,0.07,0.93 spacing 0,0.04
set grid
unset key
set xrange [0:tmax]
set format x ""
set ylabel "slip velocity (m/s)"
plot "Vek_Slip.csv" every ::1 using 1:2 with lines lc rgb "#1f4e9a"
set ylabel "slip (m)"
plot "Vek_Slip.csv" every ::1 using 1:3 with lines lc rgb "#2a8a3a"
set format x "%g"
set xlabel "time (s)"
set ylabel "slip acceleration (m/s^2)"
plot "Vek_Slip.csv" every ::1 using 1:4 with lines lc rgb "#b03030"
unset multiplot
unset xlabel
unset xrange

# Amplitude spectra of velocity and acceleration, log-log.
set output amp_png
set terminal pngcairo size 1000,700 enhanced font "sans,11" linewidth 1.5
set title "Amplitude spectra (Vek\\_Amp.csv)"
set logscale xy
set format x "10^{%L}"
set format y "10^{%L}"
set xlabel "frequency (Hz)"
set ylabel "Fourier amplitude"
set autoscale xfix
set key bottom left box opaque
set grid xtics ytics
plot "Vek_Amp.csv" every ::1 using 1:2 with lines lc rgb "#1f4e9a" title "slip velocity (m)", \
     "Vek_Amp.csv" every ::1 using 1:3 with lines lc rgb "#b03030" title "slip acceleration (m/s)"
unset output
