#!/usr/bin/env bash
# SGEMV benchmark of the AVX-512 and AVX2 kernel sets against OpenBLAS and
# BLIS, each in one run on this machine.
#   bench/run_sgemv_bench.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/tools/install_deps.sh"
"$root/tools/install_deps.sh" --bench
[ -f "$build/build.ninja" ] || "$root/tools/configure.sh" "$build"
ninja -C "$build" vorte_blas sgemv_bench >/dev/null
baselines=(/usr/lib/x86_64-linux-gnu/openblas-openmp/libopenblas.so.0
           /usr/lib/x86_64-linux-gnu/blis-openmp/libblis.so.4)
export ORB_SIMULATE_CPU=ruzuv ORB_DYNAMIC=false OMP_NUM_THREADS=2
echo "=== AVX-512 kernel set"
"$build/bench/sgemv_bench" "$build/libvorte_blas.so" "${baselines[@]}"
echo
echo "=== AVX2 kernel set"
ORB_ENABLE_INSTRUCTIONS=AVX2 "$build/bench/sgemv_bench" "$build/libvorte_blas.so" "${baselines[@]}"
