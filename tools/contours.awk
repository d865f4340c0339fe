# What the plot tools' awk programs share (given first with -f): the step
# between rupture-time contours.

# A round step (1, 2 or 5 times a power of ten) giving about eight levels.
function contour_step(span,    raw, power, m) {
  raw = span / 8
  power = 10 ^ int(log(raw) / log(10))
  if (power > raw) power /= 10
  m = raw / power
  return (m <= 1 ? 1 : m <= 2 ? 2 : m <= 5 ? 5 : 10) * power
}
