# What the tests of the gnuplot tools share, sourced by each: a scratch
# folder, checks that are counted and said, the size of a picture, and the
# summary that sets the status. Skips (77) without gnuplot.
command -v gnuplot >/dev/null 2>&1 || { echo "gnuplot absent: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 checks=0
check() {  # check DESCRIPTION COMMAND...
  checks=$((checks + 1))
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

# A PNG signature, and at least MIN_WIDTH x MIN_HEIGHT pixels in its header chunk.
png_ok() {  # png_ok FILE MIN_WIDTH MIN_HEIGHT
  [ "$(od -An -tx1 -N8 "$1" | tr -d ' \n')" = "89504e470d0a1a0a" ] || return 1
  local width=$(( 16#$(od -An -tx1 -j16 -N4 "$1" | tr -d ' \n') ))
  local height=$(( 16#$(od -An -tx1 -j20 -N4 "$1" | tr -d ' \n') ))
  [ "$width" -ge "$2" ] && [ "$height" -ge "$3" ]
}

summary() {
  echo "$((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
