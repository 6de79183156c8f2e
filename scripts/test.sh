#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Ostrel and runs every test: the normal
# build, the same suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# and short seeded runs of the fuzzers; with OSTREL_PACKAGE_TEST=1 also the
# Debian package (scripts/package.sh) and its install test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/setup.sh"
jobs=$(nproc)

echo "== format"
bash "$root/scripts/format-check.sh"

echo "== build and test"
build=${OSTREL_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DOSTREL_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

echo "== build with Unix Makefiles"
# CMake's default generator must build the project too (configure and build
# only; the tests ran above).
make_build=${OSTREL_MAKE_BUILD_DIR:-$root/build-make}
cmake -S "$root" -B "$make_build" -G "Unix Makefiles" -DOSTREL_WERROR=ON \
  -DOSTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$make_build" -j "$jobs" >/dev/null

echo "== build and test with sanitizers"
asan=${OSTREL_ASAN_BUILD_DIR:-$root/build-asan}
cmake -S "$root" -B "$asan" -G Ninja -DOSTREL_WERROR=ON -DOSTREL_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$asan" -j "$jobs"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1" \
LSAN_OPTIONS="suppressions=$root/tests/sanitizer-suppressions.txt:print_suppressions=0" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  ctest --test-dir "$asan" --output-on-failure -j "$jobs"

echo "== fuzz"
bash "$root/scripts/fuzz.sh" "${OSTREL_FUZZ_SECONDS:-30}"

echo "== Debian package and install test"
# They run wherever they can; OSTREL_PACKAGE_TEST=0 leaves them out.
if [ "${OSTREL_PACKAGE_TEST:-1}" != 1 ]; then
  echo "skipped: OSTREL_PACKAGE_TEST=0"
elif ! command -v dpkg-buildpackage >/dev/null; then
  echo "skipped: dpkg-buildpackage is not installed"
elif ! command -v debootstrap >/dev/null || [ "$(id -u)" -ne 0 ]; then
  echo "skipped: making a Debian root needs debootstrap and root"
else
  bash "$root/scripts/package.sh"
  status=0
  bash "$root/scripts/install-test.sh" || status=$?
  [ "$status" -eq 0 ] || [ "$status" -eq 77 ] || exit "$status"
fi
