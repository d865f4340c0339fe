#!/bin/sh
# The python component installs the module and its stub where the interpreter
# looks for the prefix given at install time, without a new configure: /usr
# and /usr/local (Debian: dist-packages, on sys.path), the user base (the
# user site), and any other prefix (lib/pythonX.Y/site-packages). Each is
# installed through DESTDIR into a scratch folder.
# Usage: install_python.sh BUILD_DIR PYTHON
set -eu
build=$1 python=$2
user_base=$("$python" -c "import site; print(site.getuserbase())")
for prefix in /usr /usr/local "$user_base" /opt/slipvel; do
  stage=$(mktemp -d)
  DESTDIR="$stage" cmake --install "$build" --component python --prefix "$prefix" >/dev/null
  module=$(find "$stage" -name 'slipvel*.so')
  [ "$(find "$stage" -type f | wc -l)" -eq 2 ] || { echo "$prefix: not the module and its stub alone" >&2; exit 1; }
  dir=${module%/*}
  dir=${dir#"$stage"}
  [ -f "$stage$dir/slipvel.pyi" ]
  rm -rf "$stage"
  case $prefix in
    /usr | /usr/local) "$python" -c "import sys; assert sys.argv[1] in sys.path, sys.argv[1]" "$dir" ;;
    "$user_base") "$python" -c "import site, sys; assert sys.argv[1] == site.getusersitepackages(), sys.argv[1]" "$dir" ;;
    *) "$python" -c "import sys, sysconfig; v = sysconfig.get_python_version()
assert sys.argv[1] == f'/opt/slipvel/lib/python{v}/site-packages', sys.argv[1]" "$dir" ;;
  esac
  echo "--prefix $prefix -> $dir"
done
