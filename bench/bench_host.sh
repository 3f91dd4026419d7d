# bench_host.sh - what the benchmark scripts know of the machine they run on.
# Sourced by bench/run_*.sh; needs $root (the repository's top directory).
#
# The host is named at the top of every run.  Each baseline library is told
# which of its kernels to use so that it runs the instruction set of the row
# it is compared on: OpenBLAS's SkylakeX kernel, BLIS's skx configuration and
# libxsmm's skx code on the AVX-512 rows; Haswell / haswell / hsw on the AVX2
# and 256-bit rows; Nehalem / penryn / wsm on the SSE4.2 rows; Prescott
# (SSE3: OpenBLAS's plain-SSE2 Opteron kernel uses 3DNow! instructions that
# current processors lack), penryn and wsm (their lowest) on the SSE2 rows.
# BLIS takes BLIS_ARCH_TYPE as a configuration's number; the benchmarks turn
# the name into it (bench_support.h).  The tables name the kernel each
# baseline actually ran.  Rows that need the AMD Zen sub-model run on a scripted Zen
# processor when the host is not AMD.

host_flags=$(grep -m1 '^flags' /proc/cpuinfo || true)
host_vendor=$(grep -m1 '^vendor_id' /proc/cpuinfo | sed 's/.*: *//' || true)
host_model=$(grep -m1 '^model name' /proc/cpuinfo | sed 's/.*: *//' || true)

host_has() { [[ " ${host_flags#*:} " == *" $1 "* ]]; }
host_has_avx512() { host_has avx512f && host_has avx512dq && host_has avx512bw && host_has avx512vl; }
host_has_avx2() { host_has avx2 && host_has fma; }

print_host() {
  echo "host: ${host_model:-unknown model} (vendor ${host_vendor:-unknown}, $(nproc) processors)"
  local sets=()
  host_has_avx512 && sets+=(AVX-512)
  host_has_avx2 && sets+=(AVX2+FMA)
  echo "      instruction sets the rows need: ${sets[*]:-none above SSE4.2}"
}

# Sets the baselines' kernel choice for rows of one instruction set
# (avx512, avx2, sse42 or sse2).
baseline_kernels_for() {
  case "$1" in
    avx512) export OPENBLAS_CORETYPE=SkylakeX BLIS_ARCH_TYPE=skx LIBXSMM_TARGET=skx ;;
    avx2) export OPENBLAS_CORETYPE=Haswell BLIS_ARCH_TYPE=haswell LIBXSMM_TARGET=hsw ;;
    sse42) export OPENBLAS_CORETYPE=Nehalem BLIS_ARCH_TYPE=penryn LIBXSMM_TARGET=wsm ;;
    sse2) export OPENBLAS_CORETYPE=Prescott BLIS_ARCH_TYPE=penryn LIBXSMM_TARGET=wsm ;;
  esac
}

# The ORB_SIMULATE_CPU value that gives the baseline set its Zen sub-model:
# empty on an AMD host (its own identity), a scripted Zen processor elsewhere.
zen_identity() {
  if [ "$host_vendor" = "AuthenticAMD" ]; then echo ""; else echo "file:$root/tests/cpus/amd_zen.cpuid"; fi
}
