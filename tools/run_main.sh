#!/usr/bin/env bash
# The main job: installs what is missing, builds libvorte_blas and runs the
# host program on this machine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install_deps.sh"
"$root/tools/configure.sh" "$root/build" -DORB_BUILD_TESTS=OFF
ninja -C "$root/build" orb_info >/dev/null
"$root/build/tools/orb_info"
