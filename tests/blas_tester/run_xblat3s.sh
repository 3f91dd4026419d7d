#!/usr/bin/env bash
# Runs the reference BLAS level-3 tester for single precision (xblat3s, from
# the libblas-test package) against libvorte_blas, for SGEMM only.
#
#   run_xblat3s.sh LIBRARY INPUT WORK_DIR [RUNTIME]
#
# The library is preloaded, so the tester's calls to sgemm_ reach it instead
# of the system BLAS, while the tester's own xerbla_ receives the library's
# error reports through the handler chain (the tester checks the routine
# name and parameter number of every error exit it provokes).  The tester
# reads its parameters from INPUT on standard input and writes its summary
# to a file named there, relative to a fresh directory under WORK_DIR.
# Passing means: the computational tests and the error-exit tests of SGEMM
# both passed and no line speaks of a failure, a fatal error or a suspect
# result.
#
# RUNTIME, when given, is preloaded before the library: the shared sanitizer
# runtime that an instrumented library needs in an uninstrumented tester.
set -euo pipefail

library=$1
input=$2
work_root=$3
runtime=${4:-}

tester=""
for candidate in /usr/lib/x86_64-linux-gnu/blas/xblat3s /usr/lib/blas/xblat3s; do
  if [ -x "$candidate" ]; then tester=$candidate; break; fi
done
if [ -z "$tester" ]; then
  echo "xblat3s not found: install the libblas-test package (tools/install_deps.sh)" >&2
  exit 1
fi

mkdir -p "$work_root"
work=$(mktemp -d "$work_root/xblat3s.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# The AVX2 kernel set, whatever the processor offers beyond it.
status=0
env LD_PRELOAD="${runtime:+$runtime }$library" \
    ORB_SIMULATE_CPU=ruzuv ORB_ENABLE_INSTRUCTIONS=AVX2 \
    "$tester" < "$input" > tester.stdout 2>&1 || status=$?

summary=$(sed -n "s/^'\([^']*\)'.*/\1/p" "$input" | head -n 1)
report() {
  echo "--- summary ($summary)"; cat "$summary" 2>/dev/null || true
  echo "--- standard output and error"; cat tester.stdout
}

failed=""
[ "$status" -eq 0 ] || failed="the tester exited with status $status"
if [ -z "$failed" ] && [ ! -s "$summary" ]; then failed="no summary was written"; fi
if [ -z "$failed" ] && ! grep -q "SGEMM  PASSED THE COMPUTATIONAL TESTS" "$summary"; then
  failed="SGEMM did not pass the computational tests"
fi
if [ -z "$failed" ] && ! grep -q "SGEMM  PASSED THE TESTS OF ERROR-EXITS" "$summary"; then
  failed="SGEMM did not pass the tests of error exits"
fi
if [ -z "$failed" ] && grep -Eq "FAIL|SUSPECT|FATAL" "$summary" tester.stdout; then
  failed="a failure, a fatal error or a suspect result was reported"
fi

if [ -n "$failed" ]; then
  echo "xblat3s: $failed" >&2
  report
  exit 1
fi
grep -E "SGEMM .*PASSED" "$summary"
