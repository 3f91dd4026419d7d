#!/usr/bin/env bash
# SGEMV benchmark of the AVX-512 and AVX2 kernel sets against OpenBLAS and
# BLIS, each in one run on this machine; each baseline runs its kernel for
# the row's instruction set (bench/bench_host.sh).
#   bench/run_sgemv_bench.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/tools/install_deps.sh"
"$root/tools/install_deps.sh" --bench
[ -f "$build/build.ninja" ] || "$root/tools/configure.sh" "$build"
ninja -C "$build" vorte_blas sgemv_bench >/dev/null
source "$root/bench/bench_host.sh"
baselines=(/usr/lib/x86_64-linux-gnu/openblas-openmp/libopenblas.so.0
           /usr/lib/x86_64-linux-gnu/blis-openmp/libblis.so.4)
print_host
echo
unset ORB_ENABLE_INSTRUCTIONS RUZUV_ISA_DISABLE
export ORB_SIMULATE_CPU=ruzuv ORB_DYNAMIC=false OMP_NUM_THREADS=2
if host_has_avx512; then
  echo "=== AVX-512 kernel set (OpenBLAS SkylakeX, BLIS skx)"
  baseline_kernels_for avx512
  "$build/bench/sgemv_bench" "$build/libvorte_blas.so" "${baselines[@]}"
  echo
else
  echo "=== AVX-512 kernel set: skipped, this host has no AVX-512"
  echo
fi
if host_has_avx2; then
  echo "=== AVX2 kernel set (OpenBLAS Haswell, BLIS haswell)"
  baseline_kernels_for avx2
  ORB_ENABLE_INSTRUCTIONS=AVX2 "$build/bench/sgemv_bench" "$build/libvorte_blas.so" "${baselines[@]}"
else
  echo "=== AVX2 kernel set: skipped, this host has no AVX2 with FMA"
fi
