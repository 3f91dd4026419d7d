#!/usr/bin/env bash
# Builds libvorte_blas and its tests from scratch and runs every test.
#   tools/run_tests.sh [BUILD_DIR [extra cmake arguments...]]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-tests}"
[ $# -gt 0 ] && shift
"$root/tools/install_deps.sh"
rm -rf "$build"
"$root/tools/configure.sh" "$build" "$@"
ninja -C "$build"
ctest --test-dir "$build" --output-on-failure -j2
