#!/usr/bin/env bash
# Fails when a C++ source drifts from .clang-format; prints the files that do.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
git ls-files '*.cpp' '*.h' | grep -v '^third_party/' | xargs clang-format --dry-run --Werror
