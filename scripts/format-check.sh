#!/usr/bin/env bash
# Fails when a C++ source drifts from .clang-format; prints the files that do.
# Works in a git checkout and in an unpacked source tree alike.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
if command -v git >/dev/null && git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z '*.cpp' '*.h'
else
  find . \( -path ./third_party -o -path './build*' -o -path ./out -o -path ./.git \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' \) -printf '%P\0'
fi | grep -zv '^third_party/' | xargs -0 clang-format --dry-run --Werror
