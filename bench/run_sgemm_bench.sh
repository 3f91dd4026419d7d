#!/usr/bin/env bash
# SGEMM benchmarks against OpenBLAS (and BLIS where it is installed), each
# in one run on this machine, the baselines on the kernels of the row's
# instruction set:
#   1. the baseline set's Zen sub-model (this machine's own identity on an
#      AMD host, a scripted Zen processor elsewhere) against OpenBLAS's
#      Haswell kernel, one and two threads;
#   2. the AVX-512 set under the processor identity "GenuineRuzuv", one
#      thread: NN 2048^3, squares in the four transposition pairs, A
#      transposed against 8 and 32 columns, tiny products;
#   3. the AVX-512 and the AVX2 sets on one and two threads: NN 2048^3,
#      TN 4096 x 32 x 4096, NN 256^3 and 512^3;
#   4. the plain SSE2 baseline set and 5. the SSE4.2 set, one thread,
#      against the 128-bit multiply+add peak.
#   bench/run_sgemm_bench.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/tools/install_deps.sh"
"$root/tools/install_deps.sh" --bench
[ -f "$build/build.ninja" ] || "$root/tools/configure.sh" "$build"
ninja -C "$build" vorte_blas sgemm_bench >/dev/null
source "$root/bench/bench_host.sh"
bench="$build/bench/sgemm_bench"
lib="$build/libvorte_blas.so"
openblas=/usr/lib/x86_64-linux-gnu/openblas-openmp/libopenblas.so.0
blis=/usr/lib/x86_64-linux-gnu/blis-openmp/libblis.so.4
[ -f "$blis" ] || blis=
print_host
echo
unset ORB_SIMULATE_CPU ORB_ENABLE_INSTRUCTIONS RUZUV_ISA_DISABLE

if host_has_avx2; then
  baseline_kernels_for avx2
  zen=$(zen_identity)
  if [ -n "$zen" ]; then
    echo "== baseline set with the Zen sub-model, on a scripted AMD Zen processor (this host is not AMD), one and two threads"
  else
    echo "== this machine's identity, no settings: the baseline set with its Zen sub-model (one and two threads)"
  fi
  ORB_SIMULATE_CPU="$zen" "$bench" --threads=1,2 "$lib" "$openblas"
  echo
else
  echo "== skipped: the Zen sub-model needs AVX2 with FMA, which this host lacks"
  echo
fi

if host_has_avx512; then
  baseline_kernels_for avx512
  echo "== AVX-512 set (GenuineRuzuv), one thread"
  ORB_SIMULATE_CPU=ruzuv taskset -c 1 "$bench" --peak=fma512 --shapes=large,squares,narrow,small "$lib" "$openblas" $blis
  echo
  echo "== AVX-512 set (GenuineRuzuv), one and two threads"
  ORB_SIMULATE_CPU=ruzuv "$bench" --peak=fma512 --shapes=threaded --threads=1,2 "$lib" "$openblas"
  echo
else
  echo "== skipped: the AVX-512 rows need AVX-512 (F, DQ, BW, VL), which this host lacks"
  echo
fi

if host_has_avx2; then
  baseline_kernels_for avx2
  echo "== AVX2 set (GenuineRuzuv capped at AVX2), one thread"
  ORB_SIMULATE_CPU=ruzuv ORB_ENABLE_INSTRUCTIONS=AVX2 taskset -c 1 "$bench" "$lib" "$openblas"
  echo
  echo "== AVX2 set (GenuineRuzuv capped at AVX2), one and two threads"
  ORB_SIMULATE_CPU=ruzuv ORB_ENABLE_INSTRUCTIONS=AVX2 "$bench" --shapes=threaded --threads=1,2 "$lib" "$openblas"
  echo
else
  echo "== skipped: the AVX2 rows need AVX2 with FMA, which this host lacks"
  echo
fi
echo "== plain SSE2 baseline set (GenuineRuzuv without AVX and SSE4), one thread"
ORB_SIMULATE_CPU=ruzuv RUZUV_ISA_DISABLE=avx,sse4 taskset -c 1 "$bench" --peak=muladd128 --shapes=large "$lib"
echo
echo "== SSE4.2 set (GenuineRuzuv capped at SSE4_2), one thread"
ORB_SIMULATE_CPU=ruzuv ORB_ENABLE_INSTRUCTIONS=SSE4_2 taskset -c 1 "$bench" --peak=muladd128 --shapes=large "$lib"
