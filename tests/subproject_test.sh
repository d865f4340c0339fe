#!/usr/bin/env bash
# slipvel as a subproject: the parent configures and builds, exports its own
# library that links slipvel::slipvel, and finds in its cache and its `all`
# nothing of slipvel's but the library.
# A second parent found GeographicLib itself before taking slipvel in, and
# builds a program over slipvel::rupture.
# Usage: subproject_test.sh SLIPVEL_SOURCE_DIR PARENT_SOURCE_DIR GEOGRAPHICLIB_PARENT_SOURCE_DIR [COMPILER_FLAGS]
set -euo pipefail
source=$1 parent=$2 geographiclib_parent=$3 flags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$parent" -B "$work/build" -DSLIPVEL_SOURCE="$source" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/configure.log" ||
  { cat "$work/configure.log" >&2; exit 1; }
cache=$work/build/CMakeCache.txt
if grep -E '^CMAKE_BUILD_TYPE:[A-Z]*=.+' "$cache" || grep -E '^Python_EXECUTABLE:' "$cache"; then
  echo "slipvel set the parent's CMAKE_BUILD_TYPE or Python_EXECUTABLE" >&2
  exit 1
fi
# With the Python module asked for, the interpreter slipvel picks stays its own.
cmake -S "$parent" -B "$work/build-python" -DSLIPVEL_SOURCE="$source" -DSLIPVEL_PYTHON=ON >/dev/null
if grep -E '^Python_EXECUTABLE:' "$work/build-python/CMakeCache.txt"; then
  echo "slipvel set the parent's Python_EXECUTABLE" >&2
  exit 1
fi
cmake --build "$work/build" -j2 >"$work/build.log" || { cat "$work/build.log" >&2; exit 1; }
[ "$("$work/build/parent_program")" = 1.0001 ]
built=$(find "$work/build" -type f \( -name slipvel -o -name slipvel-batch -o -name '*_test' -o -name 'slipvel*.so' \))
[ -z "$built" ] || { printf 'the parent'"'"'s all built\n%s\n' "$built" >&2; exit 1; }
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null
for f in lib/cmake/mylib/mylib-targets.cmake lib/cmake/slipvel/slipvel-targets.cmake lib/libslipvel.a; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
[ ! -e "$work/prefix/bin" ] || { echo "the parent's install took slipvel's programs" >&2; exit 1; }
if [ -e /usr/include/GeographicLib/Geodesic.hpp ]; then
  cmake -S "$geographiclib_parent" -B "$work/build-geographiclib" -DSLIPVEL_SOURCE="$source" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; exit 1; }
  cmake --build "$work/build-geographiclib" -j2 --target parent_rupture >"$work/build.log" 2>&1 ||
    { cat "$work/build.log" >&2; exit 1; }
  [ "$("$work/build-geographiclib/parent_rupture")" = 1 ]
fi
echo "slipvel works as a subproject"
