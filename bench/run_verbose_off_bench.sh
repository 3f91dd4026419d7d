#!/usr/bin/env bash
# What the verbose log costs a call while it is off: a 4 x 4 x 4 SGEMM through
# sgemm_ in the library with the log off, against the library variant whose
# entry points are built without the log, one thread, on one core.
#   bench/run_verbose_off_bench.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/tools/install_deps.sh"
[ -f "$build/build.ninja" ] || "$root/tools/configure.sh" "$build"
ninja -C "$build" verbose_off_bench >/dev/null
source "$root/bench/bench_host.sh"
print_host
echo
unset ORB_VERBOSE ORB_VERBOSE_OUTPUT_FILE
taskset -c 1 "$build/bench/verbose_off_bench"
