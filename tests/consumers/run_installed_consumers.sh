#!/usr/bin/env bash
# Installs a built libvorte_blas into a fresh prefix with `cmake --install`
# and builds and runs two programs against the installed tree alone: a C++
# host found through the CMake package (find_package, imported target) and a
# plain C program built with pkg-config's flags.
#   run_installed_consumers.sh BUILD_DIR C_COMPILER CXX_COMPILER
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1" cc="$2" cxx="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in include/orb_blas.h include/vorte/blas_module.h; do
  [ -f "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done

echo "== CMake package"
cmake -S "$here/cmake" -B "$work/cmake_consumer" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$work/cmake_consumer" >/dev/null
"$work/cmake_consumer/module_consumer"

echo "== pkg-config"
pc="$(find "$prefix" -name vorte_blas.pc)"
export PKG_CONFIG_PATH="$(dirname "$pc")"
echo "pkg-config --libs vorte_blas: $(pkg-config --libs vorte_blas)"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags vorte_blas) "$here/pkg_config/cblas_consumer.c" \
  $(pkg-config --libs vorte_blas) -lm -o "$work/cblas_consumer"
LD_LIBRARY_PATH="$(pkg-config --variable=libdir vorte_blas)" "$work/cblas_consumer"
