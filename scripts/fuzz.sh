#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short, seeded
# session over a seed corpus of real archives, after replaying every input
# that once failed (fuzz/regressions/). Usage: fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-30}
build=${OSTREL_FUZZ_BUILD_DIR:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DOSTREL_FUZZ=ON -DOSTREL_SANITIZE=ON \
  -DOSTREL_BUILD_APP=OFF -DOSTREL_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target PathSanitizerFuzzer ArchiveFuzzer LibarchiveFuzzer \
  DecoderProtocolFuzzer

# Seed archives made by the rar tool: plain, solid, encrypted, links, volumes.
seeds="$build/seeds/archive"
if [ ! -d "$seeds" ]; then
  src="$build/seeds/src"
  rm -rf "$build/seeds" && mkdir -p "$seeds" "$src/tree/sub"
  printf 'alpha\n' >"$src/tree/a.txt"
  printf 'beta beta beta\n' >"$src/tree/sub/b.txt"
  cp "$src/tree/a.txt" "$src/tree/copy.txt"
  ln -s a.txt "$src/tree/link"
  ln "$src/tree/sub/b.txt" "$src/tree/hard"
  head -c 30000 /dev/zero | tr '\0' 'v' >"$src/tree/big.bin"
  (cd "$src" &&
    rar a -idq plain.rar tree &&
    rar a -idq -s solid.rar tree &&
    rar a -idq -m0 stored.rar tree &&
    rar a -idq -ppassword data.rar tree &&
    rar a -idq -hppassword headers.rar tree &&
    rar a -idq -ol -oh -oi:1 links.rar tree &&
    rar a -idq -m0 -v10k vol.rar tree/big.bin)
  cp "$src"/*.rar "$seeds"/
fi

# Seeds for the libarchive engine: zip (plain, encrypted), 7z, tar with
# links, compressed tars and single compressed files.
laseeds="$build/seeds/libarchive"
if [ ! -d "$laseeds" ]; then
  src="$build/seeds/lasrc"
  rm -rf "$laseeds" "$src" && mkdir -p "$laseeds" "$src/tree/sub"
  printf 'alpha\n' >"$src/tree/a.txt"
  printf 'beta beta beta\n' >"$src/tree/sub/b.txt"
  ln -s a.txt "$src/tree/link"
  ln "$src/tree/sub/b.txt" "$src/tree/hard"
  (cd "$src" &&
    bsdtar --format zip -cf plain.zip tree &&
    7z a -bd -bso0 -tzip -ppassword -mem=AES256 aes.zip tree &&
    7z a -bd -bso0 -snl plain.7z tree &&
    bsdtar -cf plain.tar tree &&
    bsdtar -czf plain.tar.gz tree &&
    bsdtar -cJf plain.tar.xz tree &&
    bsdtar --zstd -cf plain.tar.zst tree &&
    gzip -c tree/a.txt >single.gz)
  cp "$src"/*.zip "$src"/*.7z "$src"/*.tar* "$src"/*.gz "$laseeds"/
fi

# Each fuzzer gets a temporary directory of its own, which it checks.
for fuzzer in PathSanitizerFuzzer ArchiveFuzzer LibarchiveFuzzer DecoderProtocolFuzzer; do
  name=${fuzzer%Fuzzer}
  regressions="$root/fuzz/regressions/$name"
  corpus="$build/corpus/$name"
  scratch=$(mktemp -d)
  mkdir -p "$corpus"
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    replay=$(mktemp -d)
    TMPDIR="$replay" "$build/fuzz/$fuzzer" "$regressions"/* >"$build/$name-regressions.log" 2>&1 ||
      { tail -n 60 "$build/$name-regressions.log"; exit 1; }
    rm -rf "$replay"
  fi
  extra=()
  [ "$name" = Archive ] && extra=("$seeds")
  [ "$name" = Libarchive ] && extra=("$laseeds")
  log="$build/$name.log"
  status=0
  TMPDIR="$scratch" "$build/fuzz/$fuzzer" -seed=1 -max_total_time="$seconds" \
    -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/$name-" \
    "$corpus" "${extra[@]}" >"$log" 2>&1 || status=$?
  echo "$fuzzer:"
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|^#[0-9]+ +DONE' "$log" || true
  rm -rf "$scratch"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    exit "$status"
  fi
done
