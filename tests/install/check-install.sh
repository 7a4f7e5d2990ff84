#!/usr/bin/env bash
# Installs the image library into a temporary prefix and uses it the way an
# outside project would:
#  1. every installed header compiles on its own (C++17), and none of them
#     includes Highway or a private header;
#  2. a program built with `pkg-config kelvo-imaging` links and runs;
#  3. a project using find_package(Kelvo) and Kelvo::imaging builds and runs.
#
#   check-install.sh CMAKE BUILD_DIR SOURCE_DIR CXX
set -euo pipefail
cmake_bin=$1 build=$2 here=$3 cxx=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvo-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

"$cmake_bin" --build "$build" --target kelvo_imaging
"$cmake_bin" --install "$build" --component imaging --prefix "$prefix" >/dev/null

libdir=$(dirname "$(find "$prefix" -name 'libkelvo-imaging.so' | head -n 1)")
[ -n "$libdir" ] && [ -f "$libdir/libkelvo-imaging.so" ] || { echo "library not installed"; exit 1; }
[ -f "$prefix/include/kelvo/imaging.h" ] || { echo "umbrella header not installed"; exit 1; }
[ -f "$libdir/cmake/Kelvo/KelvoConfig.cmake" ] || { echo "CMake package not installed"; exit 1; }
[ -f "$libdir/pkgconfig/kelvo-imaging.pc" ] || { echo "pkg-config module not installed"; exit 1; }

echo "-- installed headers"
if grep -rlE '#include [<"](hwy/|.*/detail/|.*/reference/|.*-inl\.h)' "$prefix/include"; then
  echo "an installed header includes Highway or a private header"
  exit 1
fi
if find "$prefix/include" -path '*/detail/*' -o -path '*/reference/*' -o -name '*-inl.h' | grep .; then
  echo "private headers were installed"
  exit 1
fi
find "$prefix/include" -name '*.h' | sort | xargs -P "$(nproc)" -I{} sh -c '
  printf "#include \"%s\"\n" "$1" |
    "$2" -std=c++17 -x c++ -fsyntax-only -Wall -Wextra -Werror -I"$3/include" -I"$3/include/kelvo" - ||
    { echo "installed header does not compile on its own: $1"; exit 1; }' _ {} "$cxx" "$prefix"

echo "-- pkg-config kelvo-imaging"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs kelvo-imaging)
mkdir -p "$work/pc"
# shellcheck disable=SC2086
"$cxx" -std=c++17 -Wall -Wextra -Werror "$here/consumer/main.cpp" $flags \
  -Wl,-rpath,"$libdir" -o "$work/pc/consumer"
"$work/pc/consumer" "$work/pc"

echo "-- find_package(Kelvo)"
"$cmake_bin" -S "$here/consumer" -B "$work/cm" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
"$cmake_bin" --build "$work/cm"
mkdir -p "$work/cm/out"
"$work/cm/consumer" "$work/cm/out"
