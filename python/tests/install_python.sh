#!/bin/sh
# The python component installs the module and its stub where the interpreter
# looks for the build's prefix; install_dir.py answers for /usr/local (Debian:
# dist-packages, on sys.path) and for $HOME/.local (the user site-packages).
# Usage: install_python.sh BUILD_DIR PYTHON SOURCE_DIR
set -eu
build=$1 python=$2 source=$3
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
DESTDIR="$stage" cmake --install "$build" --component python >/dev/null
dir=$("$python" "$source/python/install_dir.py" "$prefix")
ls "$stage$dir"/slipvel*.so "$stage$dir/slipvel.pyi" >/dev/null
[ "$(find "$stage" -type f | wc -l)" -eq 2 ]  # the module and its stub only
# /usr/local: a folder the interpreter itself searches.
local_dir=$("$python" "$source/python/install_dir.py" /usr/local)
"$python" -c "import sys; assert sys.argv[1] in sys.path, sys.argv[1]" "$local_dir"
# $HOME/.local: the user site the interpreter would search.
user_dir=$("$python" "$source/python/install_dir.py" "$HOME/.local")
"$python" -c "import site, sys; assert sys.argv[1] == site.getusersitepackages(), sys.argv[1]" "$user_dir"
echo "installed into $dir; /usr/local -> $local_dir; \$HOME/.local -> $user_dir"
