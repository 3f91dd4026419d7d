#!/usr/bin/env bash
# SGEMM benchmarks against OpenBLAS, each in one run on this machine:
#   1. this machine's own identity, no settings (the baseline set's Zen
#      sub-model here) against OpenBLAS's Haswell kernel, one and two threads;
#   2. the AVX2 set under the processor identity "GenuineRuzuv", one thread;
#   3. the plain SSE2 baseline set and 4. the SSE4.2 set, one thread, against
#      the 128-bit multiply+add peak.
#   bench/run_sgemm_bench.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/tools/install_deps.sh"
"$root/tools/install_deps.sh" --bench
[ -f "$build/build.ninja" ] || "$root/tools/configure.sh" "$build"
ninja -C "$build" vorte_blas sgemm_bench >/dev/null
bench="$build/bench/sgemm_bench"
lib="$build/libvorte_blas.so"
baseline=/usr/lib/x86_64-linux-gnu/openblas-openmp/libopenblas.so.0
export OPENBLAS_CORETYPE=Haswell

echo "== this machine's identity, no settings (one and two threads)"
env -u ORB_SIMULATE_CPU -u ORB_ENABLE_INSTRUCTIONS "$bench" --threads=1,2 "$lib" "$baseline"
echo
echo "== AVX2 set (GenuineRuzuv capped at AVX2), one thread"
ORB_SIMULATE_CPU=ruzuv ORB_ENABLE_INSTRUCTIONS=AVX2 taskset -c 1 "$bench" "$lib" "$baseline"
echo
echo "== plain SSE2 baseline set (GenuineRuzuv without AVX and SSE4), one thread"
ORB_SIMULATE_CPU=ruzuv RUZUV_ISA_DISABLE=avx,sse4 taskset -c 1 "$bench" --peak=muladd128 --shapes=large "$lib"
echo
echo "== SSE4.2 set (GenuineRuzuv capped at SSE4_2), one thread"
ORB_SIMULATE_CPU=ruzuv ORB_ENABLE_INSTRUCTIONS=SSE4_2 taskset -c 1 "$bench" --peak=muladd128 --shapes=large "$lib"
