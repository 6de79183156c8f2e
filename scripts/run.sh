#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Ostrel and extracts a sample archive.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/setup.sh"
build=${OSTREL_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "built in $build"
