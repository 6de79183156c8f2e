#!/usr/bin/env bash
# Times ostrel-extract against `unrar x`, `unrar t` (decompression alone) and
# `bsdtar -xf` on five corpora: two big files (300 MB); 20,000 small files;
# the same small files solid; 40,000 small files (growth with the count);
# 200 tiny archives of one to five small files each (the fixed cost of an
# archive: ostrel-extract takes them all in one call, `unrar x` is timed both
# once per archive, the baseline, and once over all of them as unrar-x-all;
# a line gives each tool's median per archive in ms).
# Then the app end to end: launched with one tiny archive, until the output
# is in place and until it has quit (it quits by itself once idle), beside
# File Roller's and Ark's extract-here modes where those are installed.
# `ostrel-inproc` is the same tool with the UnRAR library in its own process
# instead of the confined decoder (bench/ostrel-extract-inprocess, built only
# here, never installed), so the confinement's cost shows.
# Each is extracted on a tmpfs and on a journaled ext4 in a loop-mounted
# image, the tools in turn round after round; prints each tool's median, the
# ratio of medians to `unrar x`, the median and range of the pair-by-pair
# ratios (each run against the `unrar x` run of the same round), the same
# for CPU time (user + system, steadier than wall time on a busy machine but
# blind to work done in parallel) and three peaks of memory, each the largest
# over the rounds:
#   peak_MB      the largest single process (GNU time's %M), as before;
#   tree_rss_MB  the sum of Rss over the tool's whole process tree (the tool
#                and the decoder it starts), shared pages counted per process;
#   peak_pss_MB  the sum of Pss over the tree, shared pages divided among the
#                processes that map them (so libraries shared with others on
#                the machine count in part).
# The tree sums come from bench/ostrel-peak-memory, which samples every 2 ms.
# Sampling slows the run it watches (on the small corpus, in three passes of
# ten runs: ostrel by 14-29 %, `unrar x` by 1-6 %), so it has an untimed run
# of each tool of its own in each round. After each corpus a line
# gives ostrel against ostrel-inproc: the median pair ratio of wall and CPU
# time (confined / in-process) and the tree Pss of both and of `unrar x`.
# Runs as root (it mounts).
#
#   bash bench/run.sh [ROUNDS]       (default 7 rounds)
#   OSTREL_BENCH_FS="tmpfs"  OSTREL_BENCH_CORPORA="small many"  bash bench/run.sh 3
#   OSTREL_BENCH_APP=0: without the app's end-to-end time
#   OSTREL_BENCH_DIR (default /tmp/ostrel-bench): corpora, mount point, logs
#   OSTREL_BUILD_DIR (default build-bench): the Release build it configures
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=${1:-7}
work=${OSTREL_BENCH_DIR:-/tmp/ostrel-bench}
filesystems=${OSTREL_BENCH_FS:-tmpfs ext4}
corpora=${OSTREL_BENCH_CORPORA:-big small solid many tiny}
# OSTREL_BENCH_APP=0 leaves out the app's end-to-end time.
app_rounds=$rounds
[ "${OSTREL_BENCH_APP:-1}" = 0 ] && app_rounds=

bash "$root/scripts/setup.sh"

build=${OSTREL_BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF \
  -DOSTREL_BUILD_BENCH=ON >/dev/null
targets=(ostrel-extract ostrel-extract-inprocess ostrel-peak-memory)
[ -n "$app_rounds" ] && targets+=(ostrel)
cmake --build "$build" --target "${targets[@]}" >/dev/null
app="$build/src/ostrel"
ostrel="$build/src/ostrel-extract"
inproc="$build/bench/ostrel-extract-inprocess"
sampler="$build/bench/ostrel-peak-memory"

mkdir -p "$work/archives"
# Each corpus is made once, on first use; the app's time needs the tiny one.
made=$corpora
[ -n "$app_rounds" ] && made+=" tiny"
for corpus in $made; do
  [ -f "$work/$corpus.done" ] && continue
  tree=$corpus
  [ "$corpus" = solid ] && tree=small
  if [ ! -f "$work/tree/$tree.done" ]; then
    rm -rf "${work:?}/tree/$tree"
    python3 "$root/bench/make_corpus.py" "$work/tree" "$tree"
    touch "$work/tree/$tree.done"
  fi
  rm -rf "${work:?}/archives/$corpus" "$work/archives/$corpus.rar"
  (
    cd "$work/tree"
    case $corpus in
      solid) rar a -idq -r -m3 -s "$work/archives/solid.rar" small ;;
      tiny)
        mkdir -p "$work/archives/tiny"
        cd tiny
        for folder in t*; do rar a -idq -r -m3 "$work/archives/tiny/$folder.rar" "$folder"; done
        ;;
      *) rar a -idq -r -m3 "$work/archives/$corpus.rar" "$corpus" ;;
    esac
  )
  touch "$work/$corpus.done"
done

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

# The tools timed on a corpus: on the tiny corpus, unrar x both once per
# archive (the baseline) and once over all of them.
tools_for() {
  case $1 in
    tiny) echo ostrel ostrel-inproc unrar-x unrar-x-all unrar-t bsdtar ;;
    *) echo ostrel ostrel-inproc unrar-x unrar-t bsdtar ;;
  esac
}

# Sets cmd to the command line that extracts the archive with the tool into
# the current directory (ostrel's tools are given it as the destination). A
# folder of archives (the tiny corpus) goes to ostrel's tools in one call,
# to the others one archive per call, or, for unrar-x-all, as unrar's own
# wildcard.
command_for() {
  local tool=$1 archive=$2 out=$3
  if [ -d "$archive" ]; then
    local each='for a in "$0"/*.rar; do "$@" "$a" || exit 1; done'
    case $tool in
      ostrel) cmd=("$ostrel" --quiet --destination "$out" "$archive"/*.rar) ;;
      ostrel-inproc) cmd=("$inproc" --quiet --destination "$out" "$archive"/*.rar) ;;
      unrar-x) cmd=(bash -c "$each" "$archive" unrar x -idq -o-) ;;
      unrar-x-all) cmd=(unrar x -idq -o- "$archive/*.rar") ;;
      unrar-t) cmd=(bash -c "$each" "$archive" unrar t -idq) ;;
      bsdtar) cmd=(bash -c "$each" "$archive" bsdtar -xf) ;;
    esac
    return
  fi
  case $tool in
    ostrel) cmd=("$ostrel" --quiet --destination "$out" "$archive") ;;
    ostrel-inproc) cmd=("$inproc" --quiet --destination "$out" "$archive") ;;
    unrar-x) cmd=(unrar x -idq -o- "$archive") ;;
    unrar-t) cmd=(unrar t -idq "$archive") ;;
    bsdtar) cmd=(bsdtar -xf "$archive") ;;
  esac
}

# One timed run into a fresh directory; prints "seconds kilobytes cpu", or
# "nan 0 nan" when the tool fails (bsdtar cannot read solid RAR 5).
measure() {
  local tool=$1 archive=$2 out=$mnt/out cmd
  command_for "$tool" "$archive" "$out"
  rm -rf "$out" && mkdir -p "$out" && sync
  local log="$work/time.log" status=0 start end
  start=$EPOCHREALTIME
  (cd "$out" && /usr/bin/time -f '%M %U %S' -o "$log" "${cmd[@]}" >/dev/null 2>&1) || status=$?
  end=$EPOCHREALTIME
  rm -rf "$out"
  if [ "$status" -ne 0 ]; then
    echo "nan 0 nan"
  else
    awk -v s="$start" -v e="$end" 'END { printf "%.4f %d %.2f\n", e - s, $1, $2 + $3 }' "$log"
  fi
}

# One untimed run under the sampler; prints the peak sums over the process
# tree, "pss_kilobytes rss_kilobytes", or "0 0" when the tool fails.
measure_memory() {
  local tool=$1 archive=$2 out=$mnt/out cmd
  command_for "$tool" "$archive" "$out"
  rm -rf "$out" && mkdir -p "$out" && sync
  local log="$work/memory.log" status=0
  (cd "$out" && "$sampler" -i 2 -o "$log" -- "${cmd[@]}" >/dev/null 2>&1) || status=$?
  rm -rf "$out"
  if [ "$status" -ne 0 ]; then
    echo "0 0"
  else
    awk 'NR == 1 { print $1, $2 }' "$log"
  fi
}

# Median of the numbers on stdin, one per line.
median() { sort -g | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

# The ratios a[i] / b[i] of two lists of numbers, one per line.
pair_ratios() {
  local -a a b
  read -ra a <<<"$1"
  read -ra b <<<"$2"
  for i in "${!a[@]}"; do awk -v x="${a[$i]}" -v y="${b[$i]}" 'BEGIN { print x / y }'; done
}

# The largest of a list of numbers.
largest() { echo "$1" | tr ' ' '\n' | grep . | sort -g | tail -n 1; }

# The app end to end, from its launch with one small archive of the tiny
# corpus (in a folder of its own on the file system under test) until the
# output is in place, and until the app has quit. The app quits by itself
# once idle, so the second time holds its idle delay. Other extractors' own
# extract-here modes are timed the same way where they are installed.
app_tools() {
  echo ostrel-app
  command -v file-roller >/dev/null && echo file-roller
  command -v ark >/dev/null && echo ark
}

# One launch; prints "seconds_to_output seconds_to_quit", or "nan nan".
measure_app() {
  local tool=$1 folder=$mnt/app pid start output=nan end status=0 tick
  rm -rf "$folder" && mkdir -p "$folder" && cp "$work/archives/tiny/t000.rar" "$folder/"
  local home="$work/app-home"
  rm -rf "$home" && mkdir -p "$home/config" "$home/runtime" && chmod 700 "$home/runtime"
  sync
  exec {tick}<> <(:)
  start=$EPOCHREALTIME
  case $tool in
    ostrel-app)
      QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime" \
        "$app" "$folder/t000.rar" >/dev/null 2>&1 &
      ;;
    file-roller) file-roller --extract-here "$folder/t000.rar" >/dev/null 2>&1 & ;;
    ark) ark --batch --autodestination "$folder/t000.rar" >/dev/null 2>&1 & ;;
  esac
  pid=$!
  # Polled every millisecond or so without starting a process each time.
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$output" = nan ] && [ -d "$folder/t000" ] && ! compgen -G "$folder/.extract-*" >/dev/null; then
      output=$EPOCHREALTIME
    fi
    read -rt 0.001 -u "$tick" || true
  done
  wait "$pid" || status=$?
  end=$EPOCHREALTIME
  exec {tick}<&-
  [ "$output" = nan ] && [ -d "$folder/t000" ] && output=$end
  if [ "$status" -ne 0 ] || [ "$output" = nan ]; then
    echo "nan nan"
  else
    awk -v s="$start" -v o="$output" -v e="$end" 'BEGIN { printf "%.4f %.4f\n", o - s, e - s }'
  fi
  rm -rf "$folder"
}

time_app() {
  local fs=$1 tool r
  local -A outputs=() quits=()
  read -ra launched <<<"$(app_tools)"
  for ((r = 0; r < app_rounds + 1; r++)); do
    for tool in "${launched[@]}"; do
      read -r o q < <(measure_app "$tool")
      [ "$r" -eq 0 ] && continue
      outputs[$tool]+="$o "
      quits[$tool]+="$q "
    done
  done
  for tool in "${launched[@]}"; do
    if printf '%s\n' ${outputs[$tool]} | grep -q nan; then
      printf '%-6s app    %-13s failed\n' "$fs" "$tool"
      continue
    fi
    printf '%-6s app    %-13s output in %.3f s (median), quit at %.3f s\n' "$fs" "$tool" \
      "$(printf '%s\n' ${outputs[$tool]} | median)" "$(printf '%s\n' ${quits[$tool]} | median)"
  done
  for absent in file-roller ark; do
    command -v "$absent" >/dev/null || printf '%-6s app    %-13s not installed here: not timed\n' "$fs" "$absent"
  done
}

printf '%-6s %-6s %-13s %9s %7s %11s %15s %7s %9s %8s %11s %11s\n' fs corpus tool median_s ratio \
  pair_median pair_min-max cpu_s cpu_pair peak_MB tree_rss_MB peak_pss_MB
for fs in $filesystems; do
  mount_fs "$fs"
  for corpus in $corpora; do
    archive="$work/archives/$corpus.rar"
    [ "$corpus" = tiny ] && archive="$work/archives/tiny"
    read -ra tools <<<"$(tools_for "$corpus")"
    declare -A times=() mems=() cpus=() psss=() rsss=()
    for ((r = 0; r < rounds + 1; r++)); do
      for tool in "${tools[@]}"; do
        read -r t m c < <(measure "$tool" "$archive")
        # The first round only warms the caches.
        [ "$r" -eq 0 ] && continue
        times[$tool]+="$t "
        mems[$tool]+="$m "
        cpus[$tool]+="$c "
      done
      [ "$r" -eq 0 ] && continue
      for tool in "${tools[@]}"; do
        read -r p s < <(measure_memory "$tool" "$archive")
        psss[$tool]+="$p "
        rsss[$tool]+="$s "
      done
    done
    read -ra base <<<"${times[unrar-x]}"
    base_med=$(printf '%s\n' "${base[@]}" | median)
    for tool in "${tools[@]}"; do
      read -ra ts <<<"${times[$tool]}"
      if printf '%s\n' "${ts[@]}" | grep -q nan; then
        printf '%-6s %-6s %-13s %9s\n' "$fs" "$corpus" "$tool" failed
        continue
      fi
      med=$(printf '%s\n' "${ts[@]}" | median)
      pairs=$(pair_ratios "${times[$tool]}" "${times[unrar-x]}")
      pmed=$(echo "$pairs" | median)
      pmin=$(echo "$pairs" | sort -g | head -n 1)
      pmax=$(echo "$pairs" | sort -g | tail -n 1)
      read -ra cs <<<"${cpus[$tool]}"
      cmed=$(printf '%s\n' "${cs[@]}" | median)
      cpair=$(pair_ratios "${cpus[$tool]}" "${cpus[unrar-x]}" | median)
      awk -v f="$fs" -v c="$corpus" -v t="$tool" -v m="$med" -v b="$base_med" -v pm="$pmed" \
        -v lo="$pmin" -v hi="$pmax" -v p="$(largest "${mems[$tool]}")" -v cm="$cmed" -v cp="$cpair" \
        -v tr="$(largest "${rsss[$tool]}")" -v tp="$(largest "${psss[$tool]}")" \
        'BEGIN { printf "%-6s %-6s %-13s %9.3f %7.2f %11.2f %7.2f-%-7.2f %7.2f %9.2f %8.1f %11.1f %11.1f\n",
                 f, c, t, m, m / b, pm, lo, hi, cm, cp, p / 1024, tr / 1024, tp / 1024 }'
    done
    # The confined engine against the in-process one, run by run.
    if ! printf '%s\n' ${times[ostrel]} ${times[ostrel-inproc]} | grep -q nan; then
      pairs=$(pair_ratios "${times[ostrel]}" "${times[ostrel-inproc]}")
      cpair=$(pair_ratios "${cpus[ostrel]}" "${cpus[ostrel-inproc]}" | median)
      awk -v f="$fs" -v c="$corpus" -v pm="$(echo "$pairs" | median)" \
        -v lo="$(echo "$pairs" | sort -g | head -n 1)" -v hi="$(echo "$pairs" | sort -g | tail -n 1)" \
        -v cp="$cpair" -v a="$(largest "${psss[ostrel]}")" -v b="$(largest "${psss[ostrel-inproc]}")" \
        -v u="$(largest "${psss[unrar-x]}")" \
        'BEGIN { printf "%-6s %-6s confined / in-process: pair median %.2f (%.2f-%.2f), cpu pair %.2f;" \
                        " peak_pss_MB %.1f / %.1f, unrar-x %.1f (ostrel %+.1f)\n",
                 f, c, pm, lo, hi, cp, a / 1024, b / 1024, u / 1024, (a - u) / 1024 }'
    fi
    # What each tool costs per archive of the tiny corpus, its median over
    # the count; ostrel's difference to unrar x run once per archive.
    if [ "$corpus" = tiny ]; then
      count=$(find "$archive" -maxdepth 1 -name '*.rar' | wc -l)
      line=$(printf '%-6s %-6s per archive (ms):' "$fs" tiny)
      for tool in "${tools[@]}"; do
        printf '%s\n' ${times[$tool]} | grep -q nan && continue
        line+=$(printf '%s\n' ${times[$tool]} | median |
          awk -v t="$tool" -v n="$count" '{ printf " %s %.1f", t, $1 * 1000 / n }')
      done
      if ! printf '%s\n' ${times[ostrel]} | grep -q nan; then
        line+=$(awk -v a="$(printf '%s\n' ${times[ostrel]} | median)" -v b="$base_med" -v n="$count" \
          'BEGIN { printf "; ostrel - unrar-x %+.1f", (a - b) * 1000 / n }')
      fi
      echo "$line"
    fi
    unset times mems cpus psss rsss
  done
  if [ -n "$app_rounds" ]; then time_app "$fs"; fi
done
