#!/usr/bin/env bash
# Times ostrel-extract against `unrar x` and `bsdtar -xf` on three corpora
# (two big files; 20,000 small files; the same small files solid), in one
# run and alternately, and prints medians, the ratio to unrar and peak memory.
#
#   bash bench/run.sh [ROUNDS]     (default 5 rounds)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=${1:-5}
work=${OSTREL_BENCH_DIR:-/tmp/ostrel-bench}

bash "$root/scripts/setup.sh"
need=()
for p in unrar libarchive-tools time python3; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

build=${OSTREL_BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target ostrel-extract >/dev/null
ostrel="$build/src/ostrel-extract"

mkdir -p "$work"
if [ ! -f "$work/corpus.done" ]; then
  rm -rf "$work/tree" "$work/archives"
  python3 "$root/bench/make_corpus.py" "$work/tree"
  mkdir -p "$work/archives"
  (cd "$work/tree" && rar a -idq -r -m3 "$work/archives/big.rar" big \
    && rar a -idq -r -m3 "$work/archives/small.rar" small \
    && rar a -idq -r -m3 -s "$work/archives/solid.rar" small)
  touch "$work/corpus.done"
fi

# One timed extraction into a fresh directory; prints "seconds kilobytes".
measure() {
  local tool=$1 archive=$2 out=$3
  rm -rf "$out" && mkdir -p "$out"
  local log="$work/time.log"
  local status=0
  case $tool in
    ostrel) /usr/bin/time -v -o "$log" "$ostrel" --quiet --destination "$out" "$archive" >/dev/null || status=$? ;;
    unrar) (cd "$out" && /usr/bin/time -v -o "$log" unrar x -idq -o- "$archive" >/dev/null) || status=$? ;;
    bsdtar) (cd "$out" && /usr/bin/time -v -o "$log" bsdtar -xf "$archive" 2>/dev/null) || status=$? ;;
  esac
  # A tool that cannot extract the corpus (bsdtar and solid RAR 5) is shown as failed.
  if [ "$status" -ne 0 ]; then
    echo "nan 0"
    rm -rf "$out"
    return
  fi
  local wall mem
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$log" |
    awk -F: '{ if (NF==3) print $1*3600+$2*60+$3; else print $1*60+$2 }')
  mem=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  # Clean up before answering: the caller reads the answer and moves on.
  rm -rf "$out"
  echo "$wall $mem"
}

median() { sort -n | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

printf '%-8s %-8s %10s %8s %12s\n' corpus tool median_s ratio peak_MB
for corpus in big small solid; do
  archive="$work/archives/$corpus.rar"
  declare -A times=() mems=()
  for ((r = 0; r < rounds; r++)); do
    for tool in ostrel unrar bsdtar; do
      read -r t m < <(measure "$tool" "$archive" "$work/out")
      times[$tool]+="$t "
      mems[$tool]+="$m "
    done
  done
  base=$(echo "${times[unrar]}" | tr ' ' '\n' | grep . | median)
  for tool in ostrel unrar bsdtar; do
    med=$(echo "${times[$tool]}" | tr ' ' '\n' | grep . | median)
    peak=$(echo "${mems[$tool]}" | tr ' ' '\n' | grep . | sort -n | tail -1)
    if [ "$med" = nan ] || echo "${times[$tool]}" | grep -q nan; then
      printf '%-8s %-8s %10s\n' "$corpus" "$tool" failed
      continue
    fi
    awk -v c="$corpus" -v t="$tool" -v m="$med" -v b="$base" -v p="$peak" \
      'BEGIN { printf "%-8s %-8s %10.3f %8.2f %12.1f\n", c, t, m, m / b, p / 1024 }'
  done
  unset times mems
done
