#!/usr/bin/env bash
# The main job: installs what is missing, builds libvorte_blas and runs the
# host demo on its inference workload, after a description of the processor.
#   tools/run_main.sh [host_demo options...]   (tools/run_main.sh --help lists them)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install_deps.sh"
"$root/tools/configure.sh" "$root/build" -DORB_BUILD_TESTS=OFF
ninja -C "$root/build" orb_info host_demo vorte_blas >/dev/null
case " $* " in *" --help "* | *" -h "*) exec "$root/build/tools/host_demo" --help ;; esac
# The demo runs on the processor as it is, unless the caller chose another
# presentation (--cpu, or ORB_SIMULATE_CPU in the README).
"$root/build/tools/orb_info"
echo
"$root/build/tools/host_demo" "$@" "$root/build/libvorte_blas.so"
