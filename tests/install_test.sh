#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds small user programs
# against it, once through find_package and once through pkg-config, and runs
# them: one over the function, one over the rupture library where it was built.
# Usage: install_test.sh BUILD_DIR CONSUMER_SOURCE_DIR VERSION [COMPILER_FLAGS]
set -euo pipefail
build=$1 consumer=$2 version=$3 flags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expected="$version td=0.0530516477 am=154.264766 tb=0.088203027 b=0.243249097 c=0.170432712 ar=0.161241923 eps=0.0769740377 v(0.055)=4.08648084"
rupture_expected="points=6 Mw=5.2304 srf"

# The library alone, as a packager would split it: headers, archives, CMake
# package and .pc files, no programs. No archive ends its caller's process.
cmake --install "$build" --component library --prefix "$work/library" >/dev/null
for f in include/slipvel/slipvel.hpp include/slipvel/text.hpp include/slipvel/srf.hpp include/slipvel/moment.hpp \
  include/slipvel/table.hpp; do
  [ -e "$work/library/$f" ] || { echo "not installed with the library: $f" >&2; exit 1; }
done
[ ! -e "$work/library/bin" ] || { echo "the library component installed programs" >&2; exit 1; }
for archive in $(find "$work/library" -name 'libslipvel*.a' -o -name 'libslipvel*.so'); do
  if nm -u -D "$archive" 2>/dev/null | grep -wE 'abort|exit|_exit|_Exit' || nm -u "$archive" 2>/dev/null | grep -wE 'abort|exit|_exit|_Exit'; then
    echo "$archive calls a function that ends the process" >&2
    exit 1
  fi
done
with_rupture=$([ -e "$work/library/include/slipvel/rupture.hpp" ] && echo yes || echo no)

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/slipvel include/slipvel/slipvel.hpp; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done

cmake -S "$consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake" >/dev/null
out=$("$work/cmake/consumer")
[ "$out" = "$expected" ] || { printf 'find_package consumer printed\n%s\nexpected\n%s\n' "$out" "$expected" >&2; exit 1; }
if [ "$with_rupture" = yes ]; then
  out=$("$work/cmake/rupture_consumer")
  [ "$out" = "$rupture_expected" ] || { printf 'find_package rupture consumer printed\n%s\n' "$out" >&2; exit 1; }
fi

# Programs linked by hand find shared libraries of the prefix (where the build made them) as installed.
export LD_LIBRARY_PATH="$work/prefix/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
pc=$(find "$work/prefix" -name slipvel.pc)
export PKG_CONFIG_PATH=${pc%/*}
[ "$(pkg-config --modversion slipvel)" = "$version" ]
# shellcheck disable=SC2046,SC2086
c++ -std=c++20 $flags "$consumer/consumer.cpp" -o "$work/pc-consumer" $(pkg-config --cflags --libs slipvel)
out=$("$work/pc-consumer")
[ "$out" = "$expected" ] || { printf 'pkg-config consumer printed\n%s\n' "$out" >&2; exit 1; }
if [ "$with_rupture" = yes ]; then
  # shellcheck disable=SC2046,SC2086
  c++ -std=c++20 $flags "$consumer/rupture_consumer.cpp" -o "$work/pc-rupture" $(pkg-config --cflags --libs slipvel-rupture)
  out=$("$work/pc-rupture")
  [ "$out" = "$rupture_expected" ] || { printf 'pkg-config rupture consumer printed\n%s\n' "$out" >&2; exit 1; }
fi
# The Python module, where the build made one (SLIPVEL_PYTHON names its
# interpreter): installed under the prefix and importable from there.
if [ -n "${SLIPVEL_PYTHON:-}" ] && ls "$build"/python/slipvel*.so >/dev/null 2>&1; then
  module=$(find "$work/prefix" -name 'slipvel*.so' | head -1)
  [ -n "$module" ] || { echo "Python module not installed under the prefix" >&2; exit 1; }
  PYTHONPATH=${module%/*} "$SLIPVEL_PYTHON" -c "import slipvel, sys; assert slipvel.__version__ == sys.argv[1]" "$version"
fi
echo "installed package works through find_package and pkg-config"
