#!/bin/sh
# `pip install .` from a clean copy of the sources, offline, into a virtual
# environment that sees the system's setuptools, pybind11 and numpy; then the
# module, imported from another folder, writes the program's two texts.
# Usage: pip_install.sh SOURCE_DIR PYTHON SLIPVEL_PROGRAM
set -eu
source=$1 python=$2 program=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/clone" "$work/run" "$work/elsewhere"
# The tracked files only, as a fresh clone has them (no build folders).
git -C "$source" ls-files -z | (cd "$source" && xargs -0 tar cf -) | tar xf - -C "$work/clone"
"$python" -m venv --system-site-packages "$work/venv"
(cd "$work/clone" && "$work/venv/bin/pip" install -q --no-build-isolation --no-index .)
files=$(cd "$work/venv" && find . -name 'slipvel*' -not -path '*dist-info*' | sort | tr '\n' ' ')
case "$files" in
  "./lib/python"*"/site-packages/slipvel.cpython-"*".so ./lib/python"*"/site-packages/slipvel.pyi ") ;;
  *) echo "the wheel holds more or less than the module and its stub: $files"; exit 1 ;;
esac
(cd "$work/run" && "$program" </dev/null >/dev/null)
cd "$work/elsewhere"
"$work/venv/bin/python" - "$work/run" <<'PY'
import sys
from pathlib import Path
import slipvel
assert "/venv/" in slipvel.__file__, slipvel.__file__
f = slipvel.slip_function()
run = Path(sys.argv[1])
assert f.time_history_text() == (run / "Vek_Slip.csv").read_text()
assert f.spectrum().text() == (run / "Vek_Amp.csv").read_text()
print("pip install: module and stub installed, texts equal to the program's")
PY
