#!/usr/bin/env bash
# Runs one of the reference BLAS testers for single precision (xblat2s or
# xblat3s, from the libblas-test package) against libvorte_blas, for one
# routine (SGEMV or SGEMM; the input file enables only that one).
#
#   run_reference_tester.sh TESTER ROUTINE LIBRARY INPUT WORK_DIR [RUNTIME]
#
# The library is preloaded, so the tester's calls to the routine reach it
# instead of the system BLAS, while the tester's own xerbla_ receives the library's
# error reports through the handler chain (the tester checks the routine
# name and parameter number of every error exit it provokes).  The tester
# reads its parameters from INPUT on standard input and writes its summary
# to a file named there, relative to a fresh directory under WORK_DIR.
# Processor settings (ORB_SIMULATE_CPU, ...) come from the caller's
# environment.  Passing means: the computational tests and the error-exit
# tests of the routine both passed and no line speaks of a failure, a fatal error or a suspect
# result.
#
# RUNTIME, when given, is preloaded before the library: the shared sanitizer
# runtime that an instrumented library needs in an uninstrumented tester.
set -euo pipefail

name=$1
routine=$2
library=$3
input=$4
work_root=$5
runtime=${6:-}

tester=""
for candidate in "/usr/lib/x86_64-linux-gnu/blas/$name" "/usr/lib/blas/$name"; do
  if [ -x "$candidate" ]; then tester=$candidate; break; fi
done
if [ -z "$tester" ]; then
  echo "$name not found: install the libblas-test package (tools/install_deps.sh)" >&2
  exit 1
fi

mkdir -p "$work_root"
work=$(mktemp -d "$work_root/$name.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

status=0
env LD_PRELOAD="${runtime:+$runtime }$library" "$tester" < "$input" > tester.stdout 2>&1 || status=$?

summary=$(sed -n "s/^'\([^']*\)'.*/\1/p" "$input" | head -n 1)
report() {
  echo "--- summary ($summary)"; cat "$summary" 2>/dev/null || true
  echo "--- standard output and error"; cat tester.stdout
}

failed=""
[ "$status" -eq 0 ] || failed="the tester exited with status $status"
if [ -z "$failed" ] && [ ! -s "$summary" ]; then failed="no summary was written"; fi
if [ -z "$failed" ] && ! grep -Eq "$routine +PASSED THE COMPUTATIONAL TESTS" "$summary"; then
  failed="$routine did not pass the computational tests"
fi
if [ -z "$failed" ] && ! grep -Eq "$routine +PASSED THE TESTS OF ERROR-EXITS" "$summary"; then
  failed="$routine did not pass the tests of error exits"
fi
if [ -z "$failed" ] && grep -Eq "FAIL|SUSPECT|FATAL" "$summary" tester.stdout; then
  failed="a failure, a fatal error or a suspect result was reported"
fi

if [ -n "$failed" ]; then
  echo "$name: $failed" >&2
  report
  exit 1
fi
grep -E "$routine .*PASSED" "$summary"
