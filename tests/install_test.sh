#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds a small user program
# against it, once through find_package and once through pkg-config, and runs both.
# Usage: install_test.sh BUILD_DIR CONSUMER_SOURCE_DIR [COMPILER_FLAGS]
set -euo pipefail
build=$1 consumer=$2 flags=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expected="0.3.0 td=0.0530516477 am=154.264766 tb=0.088203027 b=0.243249097 c=0.170432712 ar=0.161241923 eps=0.0769740377 v(0.055)=4.08648084"

# The library alone, as a packager would split it: headers, archive, CMake
# package and .pc, no programs. The archive never ends its caller's process.
cmake --install "$build" --component library --prefix "$work/library" >/dev/null
for f in include/slipvel/slipvel.hpp include/slipvel/text.hpp include/slipvel/srf.hpp; do
  [ -e "$work/library/$f" ] || { echo "not installed with the library: $f" >&2; exit 1; }
done
[ ! -e "$work/library/bin" ] || { echo "the library component installed programs" >&2; exit 1; }
archive=$(find "$work/library" -name libslipvel.a)
if nm -u "$archive" | grep -wE 'abort|exit|_exit|_Exit'; then
  echo "$archive calls a function that ends the process" >&2
  exit 1
fi

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/slipvel include/slipvel/slipvel.hpp; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done

cmake -S "$consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake" >/dev/null
out=$("$work/cmake/consumer")
[ "$out" = "$expected" ] || { printf 'find_package consumer printed\n%s\nexpected\n%s\n' "$out" "$expected" >&2; exit 1; }

pc=$(find "$work/prefix" -name slipvel.pc)
export PKG_CONFIG_PATH=${pc%/*}
[ "$(pkg-config --modversion slipvel)" = 0.3.0 ]
# shellcheck disable=SC2046,SC2086
c++ -std=c++20 $flags "$consumer/consumer.cpp" -o "$work/pc-consumer" $(pkg-config --cflags --libs slipvel)
out=$("$work/pc-consumer")
[ "$out" = "$expected" ] || { printf 'pkg-config consumer printed\n%s\n' "$out" >&2; exit 1; }
# The Python module, where the build made one: installed under the prefix and importable from there.
if ls "$build"/python/slipvel*.so >/dev/null 2>&1; then
  module=$(find "$work/prefix" -name 'slipvel*.so' | head -1)
  [ -n "$module" ] || { echo "Python module not installed under the prefix" >&2; exit 1; }
  python=$(sed -n 's/^Python_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")
  PYTHONPATH=${module%/*} "$python" -c 'import slipvel; assert slipvel.__version__ == "0.3.0"'
fi
echo "installed package works through find_package and pkg-config"
