#!/usr/bin/env bash
# The benchmark suite: libvorte_blas on every kernel set this machine can
# run, against OpenBLAS, BLIS and (small shapes) libxsmm in the same
# processes, on square, skinny (inference), small and SGEMV shapes at one
# and two threads.  The machine's ceilings are measured first; every figure
# is also given as a share of its ceiling and as a ratio to the best other
# library.  Writes the terminal table (suite.txt), the CSV (suite.csv), the
# ceilings (ceilings.txt), one plot per shape family (PNG) and a compact
# Markdown summary (summary.md) into the output directory (default
# BUILD_DIR/bench_results).
#   bench/run_suite.sh [--quick] [--out=DIR] [BUILD_DIR]
# --quick: a few sizes per family and fewer rounds (about a minute and a
# half); the full run takes about eight minutes on two cores.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
quick=() out="" build="$root/build"
for arg in "$@"; do
  case "$arg" in
    --quick) quick=(--quick) ;;
    --out=*) out="${arg#--out=}" ;;
    -*) echo "usage: $0 [--quick] [--out=DIR] [BUILD_DIR]" >&2; exit 2 ;;
    *) build="$arg" ;;
  esac
done
out="$(mkdir -p "${out:-$build/bench_results}" && cd "${out:-$build/bench_results}" && pwd)"

"$root/tools/install_deps.sh"
"$root/tools/install_deps.sh" --bench
# Configuring again finds libxsmm when it was installed just now.
"$root/tools/configure.sh" "$build"
ninja -C "$build" vorte_blas blas_suite >/dev/null
source "$root/bench/bench_host.sh"

suite="$build/bench/blas_suite"
lib="$build/libvorte_blas.so"
baselines=()
for candidate in /usr/lib/x86_64-linux-gnu/openblas-openmp/libopenblas.so.0 \
                 /usr/lib/x86_64-linux-gnu/blis-openmp/libblis.so.4; do
  [ -f "$candidate" ] && baselines+=("$candidate")
done
csv="$out/suite.csv"
ceilings="$out/ceilings.txt"
unset ORB_SIMULATE_CPU ORB_ENABLE_INSTRUCTIONS RUZUV_ISA_DISABLE ORB_CBWR ORB_NUM_THREADS OMP_NUM_THREADS

# Runs one kernel set: run_set RUN ISA MAX_GFLOP [SETTING...]
#   RUN        the run's name in the CSV and the plots
#   ISA        the instruction set of its rows, for the baselines' kernels
#   MAX_GFLOP  products of more work are left out (0: none), to keep the
#              slow 128-bit sets short
#   SETTING    NAME=VALUE settings that select the set
# A set without SGEMM kernels ends the process at its first general SGEMM;
# a probe finds that out first, and its SGEMM rows are listed and skipped.
run_set() {
  local run="$1" isa="$2" max_gflop="$3"
  shift 3
  local families=square,skinny,small,sgemv probe
  echo
  echo "== $run: ${*:-no settings}; baselines on their $isa kernels"
  if ! probe=$(env "$@" "$suite" --probe "$lib" 2>&1); then
    if [[ "$probe" == *"is not supported"* ]]; then
      echo "   skipped until the set has SGEMM kernels (the probe ended with \"$probe\"):"
      "$suite" --list --families=square,skinny,small "${quick[@]}" --max-gflop="$max_gflop"
      families=sgemv
    else
      echo "   skipped: the probe failed: $probe"
      return 0
    fi
  fi
  (
    baseline_kernels_for "$isa"
    env "$@" "$suite" --run="$run" --ceilings="$ceilings" --csv="$csv" --families="$families" \
      --max-gflop="$max_gflop" --xsmm "${quick[@]}" "$lib" "${baselines[@]}"
  ) || echo "   the run of $run ended with status $?; the suite goes on"
}

main() {
  print_host
  echo "baselines: ${baselines[*]:-none installed}"
  echo
  echo "== ceilings of this machine (GFLOP/s of the arithmetic loops, GB/s of streaming reads)"
  "$suite" --measure-ceilings | tee "$ceilings" | paste -sd ' ' | sed 's/ \([a-z]\)/; \1/g'
  "$suite" --csv-header > "$csv"

  # The machine's own identity first (the set a user gets without settings),
  # then every other set it can run, from the plainest up.
  local own_isa=sse2
  host_has_avx2 && own_isa=avx2
  run_set default "$own_isa" 0
  if host_has_avx2 && [ -n "$(zen_identity)" ]; then
    run_set def+zen avx2 0 ORB_SIMULATE_CPU="$(zen_identity)"
  fi
  run_set def sse2 5 ORB_SIMULATE_CPU=ruzuv RUZUV_ISA_DISABLE=avx,sse4
  run_set cnr_def sse2 5 ORB_CBWR=COMPATIBLE
  if host_has sse4_2; then run_set mc3 sse42 5 ORB_SIMULATE_CPU=ruzuv ORB_ENABLE_INSTRUCTIONS=SSE4_2; fi
  if host_has_avx2; then run_set avx2 avx2 0 ORB_SIMULATE_CPU=ruzuv ORB_ENABLE_INSTRUCTIONS=AVX2; fi
  if host_has_avx512; then run_set avx512 avx512 0 ORB_SIMULATE_CPU=ruzuv; fi

  echo
  "$root/bench/plot_suite.sh" "$csv" "$out" "${host_model:-unknown host}"
  "$root/bench/summarize_suite.sh" "$csv" > "$out/summary.md"
  echo "table: $out/suite.txt"
  echo "CSV:   $csv"
  echo "summary (Markdown): $out/summary.md"
}

main 2>&1 | tee "$out/suite.txt"
