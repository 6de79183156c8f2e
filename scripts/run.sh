#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Ostrel, makes a sample archive under
# out/sample/ and opens it with the app, which extracts it beside itself and
# quits by itself 2 seconds after it has nothing left to do.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/setup.sh"
build=${OSTREL_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja >/dev/null
# Only the app and what it runs (the core library and the decoder), not the tests.
cmake --build "$build" -j "$(nproc)" --target ostrel
echo "built in $build"

# A fresh sample each time: two top-level items, so the result is a folder
# named after the archive.
sample=$root/out/sample
rm -rf "$sample"
mkdir -p "$sample"
sources=$(mktemp -d)
trap 'rm -rf "$sources"' EXIT
mkdir -p "$sources/docs/notes"
printf 'Extracted by Ostrel.\n' >"$sources/readme.txt"
printf 'first note\n' >"$sources/docs/notes/one.txt"
printf 'second note\n' >"$sources/docs/notes/two.txt"
head -c 200000 /dev/urandom >"$sources/docs/data.bin"
(cd "$sources" && rar a -idq -r "$sample/sample.rar" readme.txt docs)
echo "sample archive: $sample/sample.rar"

# The app needs a display; without one it runs on a virtual X server.
run=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  run=(xvfb-run -a)
fi
started=$(date +%s%N)
status=0
timeout 120 "${run[@]}" "$build/src/ostrel" "$sample/sample.rar" || status=$?
ended=$(date +%s%N)
if [ "$status" -ne 0 ]; then
  echo "ostrel exited with status $status" >&2
  exit "$status"
fi
elapsed=$(((ended - started) / 1000000))
printf 'ostrel quit by itself after %d.%03d s\n' $((elapsed / 1000)) $((elapsed % 1000))

# An Ostrel that was already running took the archive over: give it time.
for _ in $(seq 1 100); do
  [ -e "$sample/sample" ] && break
  sleep 0.1
done
ls -la "$sample"
(cd "$sample" && find . -mindepth 1 | sort)
