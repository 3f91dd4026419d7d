#!/usr/bin/env bash
# Installs what building and testing libvorte_blas needs on a Debian machine,
# skipping packages that are already there.
set -euo pipefail

packages=(
  cmake ninja-build            # build system
  clang libomp-dev             # compiler and the LLVM OpenMP runtime
  libclang-rt-dev              # sanitizer runtimes for the checked builds
  libgtest-dev                 # GoogleTest
  binutils                     # linker and symbol tools
  pkg-config                   # the installed-tree consumer test
  libblas-test                 # the reference BLAS testers (xblat3s)
)

# --bench: the baseline libraries the benchmarks time against, and gnuplot
# for the suite's plots.
if [ "${1:-}" = "--bench" ]; then
  packages=(libopenblas0-openmp libblis4-openmp libxsmm-dev gnuplot-nox)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
