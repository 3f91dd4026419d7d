#!/usr/bin/env bash
# Single-thread SGEMM benchmark on the AVX2 kernel set against OpenBLAS's
# Haswell kernel, in one run on this machine.
#   bench/run_sgemm_bench.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/tools/install_deps.sh"
"$root/tools/install_deps.sh" --bench
[ -f "$build/build.ninja" ] || "$root/tools/configure.sh" "$build"
ninja -C "$build" vorte_blas sgemm_bench >/dev/null
baseline=/usr/lib/x86_64-linux-gnu/openblas-openmp/libopenblas.so.0
# The AVX2 set under the processor identity "GenuineRuzuv"; one thread each.
ORB_SIMULATE_CPU=ruzuv ORB_ENABLE_INSTRUCTIONS=AVX2 ORB_NUM_THREADS=1 \
OPENBLAS_CORETYPE=Haswell OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 \
  taskset -c 1 "$build/bench/sgemm_bench" "$build/libvorte_blas.so" "$baseline"
