#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Ostrel and runs every test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/setup.sh"

jobs=$(nproc)
build=${OSTREL_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DOSTREL_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
