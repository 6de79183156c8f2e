#!/usr/bin/env bash
# Times ostrel-extract against `unrar x`, `unrar t` (decompression alone) and
# `bsdtar -xf` on four corpora: two big files (300 MB); 20,000 small files;
# the same small files solid; 40,000 small files (growth with the count).
# Each is extracted on a tmpfs and on a journaled ext4 in a loop-mounted
# image, the tools in turn round after round; prints each tool's median, the
# ratio of medians to `unrar x`, the median and range of the pair-by-pair
# ratios (each run against the `unrar x` run of the same round), the same
# for CPU time (user + system, steadier than wall time on a busy machine but
# blind to work done in parallel) and the peak memory. Runs as root (it mounts).
#
#   bash bench/run.sh [ROUNDS]       (default 7 rounds)
#   OSTREL_BENCH_FS="tmpfs"  OSTREL_BENCH_CORPORA="small many"  bash bench/run.sh 3
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=${1:-7}
work=${OSTREL_BENCH_DIR:-/tmp/ostrel-bench}
filesystems=${OSTREL_BENCH_FS:-tmpfs ext4}
corpora=${OSTREL_BENCH_CORPORA:-big small solid many}
tools=(ostrel unrar-x unrar-t bsdtar)

bash "$root/scripts/setup.sh"

build=${OSTREL_BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target ostrel-extract >/dev/null
ostrel="$build/src/ostrel-extract"

mkdir -p "$work"
if [ ! -f "$work/corpus.done" ]; then
  rm -rf "$work/tree" "$work/archives"
  python3 "$root/bench/make_corpus.py" "$work/tree"
  mkdir -p "$work/archives"
  (cd "$work/tree" && rar a -idq -r -m3 "$work/archives/big.rar" big &&
    rar a -idq -r -m3 "$work/archives/small.rar" small &&
    rar a -idq -r -m3 -s "$work/archives/solid.rar" small &&
    rar a -idq -r -m3 "$work/archives/many.rar" many)
  touch "$work/corpus.done"
fi

mnt="$work/mnt"
cleanup() { mountpoint -q "$mnt" && umount "$mnt"; rm -f "$work/ext4.img"; }
trap cleanup EXIT

# Mounts a fresh file system of the given kind on $mnt.
mount_fs() {
  cleanup
  mkdir -p "$mnt"
  case $1 in
    tmpfs) mount -t tmpfs -o size=2G tmpfs "$mnt" ;;
    ext4)
      truncate -s 3G "$work/ext4.img"
      mkfs.ext4 -q -F -O has_journal "$work/ext4.img"
      mount -o loop "$work/ext4.img" "$mnt"
      ;;
  esac
}

# One timed run into a fresh directory; prints "seconds kilobytes cpu", or
# "nan 0 nan" when the tool fails (bsdtar cannot read solid RAR 5).
measure() {
  local tool=$1 archive=$2 out=$mnt/out
  rm -rf "$out" && mkdir -p "$out" && sync
  local log="$work/time.log" status=0 start end
  start=$EPOCHREALTIME
  case $tool in
    ostrel) /usr/bin/time -f '%M %U %S' -o "$log" "$ostrel" --quiet --destination "$out" "$archive" \
              >/dev/null 2>&1 || status=$? ;;
    unrar-x) (cd "$out" && /usr/bin/time -f '%M %U %S' -o "$log" unrar x -idq -o- "$archive" \
                >/dev/null 2>&1) || status=$? ;;
    unrar-t) (cd "$out" && /usr/bin/time -f '%M %U %S' -o "$log" unrar t -idq "$archive" \
                >/dev/null 2>&1) || status=$? ;;
    bsdtar) (cd "$out" && /usr/bin/time -f '%M %U %S' -o "$log" bsdtar -xf "$archive" \
               >/dev/null 2>&1) || status=$? ;;
  esac
  end=$EPOCHREALTIME
  rm -rf "$out"
  if [ "$status" -ne 0 ]; then
    echo "nan 0 nan"
  else
    awk -v s="$start" -v e="$end" 'END { printf "%.4f %d %.2f\n", e - s, $1, $2 + $3 }' "$log"
  fi
}

# Median of the numbers on stdin, one per line.
median() { sort -g | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

printf '%-6s %-6s %-8s %9s %7s %11s %15s %7s %9s %9s\n' fs corpus tool median_s ratio pair_median \
  pair_min-max cpu_s cpu_pair peak_MB
for fs in $filesystems; do
  mount_fs "$fs"
  for corpus in $corpora; do
    archive="$work/archives/$corpus.rar"
    declare -A times=() mems=() cpus=()
    for ((r = 0; r < rounds + 1; r++)); do
      for tool in "${tools[@]}"; do
        read -r t m c < <(measure "$tool" "$archive")
        # The first round only warms the caches.
        [ "$r" -eq 0 ] && continue
        times[$tool]+="$t "
        mems[$tool]+="$m "
        cpus[$tool]+="$c "
      done
    done
    read -ra base <<<"${times[unrar-x]}"
    read -ra cbase <<<"${cpus[unrar-x]}"
    base_med=$(printf '%s\n' "${base[@]}" | median)
    for tool in "${tools[@]}"; do
      read -ra ts <<<"${times[$tool]}"
      if printf '%s\n' "${ts[@]}" | grep -q nan; then
        printf '%-6s %-6s %-8s %9s\n' "$fs" "$corpus" "$tool" failed
        continue
      fi
      med=$(printf '%s\n' "${ts[@]}" | median)
      pairs=$(for i in "${!ts[@]}"; do awk -v a="${ts[$i]}" -v b="${base[$i]}" 'BEGIN { print a / b }'; done)
      pmed=$(echo "$pairs" | median)
      pmin=$(echo "$pairs" | sort -g | head -n 1)
      pmax=$(echo "$pairs" | sort -g | tail -n 1)
      read -ra cs <<<"${cpus[$tool]}"
      cmed=$(printf '%s\n' "${cs[@]}" | median)
      cpair=$(for i in "${!cs[@]}"; do awk -v a="${cs[$i]}" -v b="${cbase[$i]}" 'BEGIN { print a / b }'; done | median)
      peak=$(echo "${mems[$tool]}" | tr ' ' '\n' | grep . | sort -g | tail -n 1)
      awk -v f="$fs" -v c="$corpus" -v t="$tool" -v m="$med" -v b="$base_med" -v pm="$pmed" \
        -v lo="$pmin" -v hi="$pmax" -v p="$peak" -v cm="$cmed" -v cp="$cpair" \
        'BEGIN { printf "%-6s %-6s %-8s %9.3f %7.2f %11.2f %7.2f-%-7.2f %7.2f %9.2f %9.1f\n",
                 f, c, t, m, m / b, pm, lo, hi, cm, cp, p / 1024 }'
    done
    unset times mems cpus
  done
done
