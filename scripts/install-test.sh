#!/usr/bin/env bash
# Installs Ostrel's package into a fresh minimal Debian 12 root and checks
# what a user gets: apt resolves every dependency from the Debian archive,
# ostrel-extract extracts an archive as an unprivileged user, the desktop's
# MIME tools find Ostrel's desktop file (its triggers ran), man finds the
# pages, and purging the package leaves no file of it behind.
#
#   bash scripts/package.sh && bash scripts/install-test.sh [out/ostrel_1.0.0_amd64.deb]
#
# Runs as root (chroot). The minimal root is made once with debootstrap and
# kept as a tarball in /var/cache/ostrel (or $OSTREL_ROOT_CACHE); each run
# unpacks a fresh copy. The root's apt sources are the host's Debian ones.
# Exits 77 with the reason when it cannot run here.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

skip() {
  echo "install test skipped: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "it needs root to make and enter a Debian root"
command -v debootstrap >/dev/null || skip "debootstrap is not installed (scripts/setup.sh installs it)"
command -v rar >/dev/null || skip "rar is not installed (scripts/setup.sh installs it)"

arch=$(dpkg --print-architecture)
deb=${1:-}
if [ -z "$deb" ]; then
  deb=$(find "$root/out" -maxdepth 1 -name "ostrel_*_$arch.deb" 2>/dev/null | sort | tail -n 1)
fi
[ -n "$deb" ] && [ -f "$deb" ] || skip "no package to install: run scripts/package.sh first"
deb=$(realpath "$deb")

# The host's Debian sources: the files apt reads, and the main archive's
# address (the first entry that is not the security archive) for debootstrap.
sources=()
for file in /etc/apt/sources.list /etc/apt/sources.list.d/debian.sources; do
  [ -s "$file" ] && sources+=("$file")
done
[ ${#sources[@]} -gt 0 ] || skip "the host has no Debian apt sources to derive the root's from"
mirror=""
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  mirror=$(awk 'BEGIN{RS=""} NR==1' /etc/apt/sources.list.d/debian.sources |
    sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' | head -n 1)
fi
if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
  mirror=$(grep -E '^deb\s' /etc/apt/sources.list | grep -v security | awk '{ print $2 }' | head -n 1)
fi
[ -n "$mirror" ] || skip "no Debian archive address in the host's apt sources"

cache=${OSTREL_ROOT_CACHE:-/var/cache/ostrel}
tarball=$cache/debian-bookworm-minbase-$arch.tar.gz
packages_cache=$cache/install-test-debs
mkdir -p "$cache" "$packages_cache/partial"

work=$(mktemp -d /var/tmp/ostrel-install-test.XXXXXX)
chroot_dir=$work/root
cleanup() {
  # The mounts live in a private mount namespace and end with it; the host
  # never sees them, so removing the folder cannot reach the host's /dev.
  rm -rf "$work"
}
trap cleanup EXIT

if [ ! -f "$tarball" ]; then
  echo "== making a minimal Debian 12 root (once, kept in $tarball)"
  fresh=$work/fresh
  debootstrap --variant=minbase bookworm "$fresh" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 30 "$work/debootstrap.log" >&2; exit 1; }
  rm -rf "$fresh"/var/cache/apt/archives/*.deb "$fresh"/var/lib/apt/lists/*_*
  tar -C "$fresh" -czf "$tarball.partial" .
  mv "$tarball.partial" "$tarball"
  rm -rf "$fresh"
fi
mkdir "$chroot_dir"
tar -C "$chroot_dir" -xzf "$tarball"
rm -f "$chroot_dir"/etc/apt/sources.list "$chroot_dir"/etc/apt/sources.list.d/*
for file in "${sources[@]}"; do
  cp "$file" "$chroot_dir$file"
done
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
cp "$deb" "$chroot_dir/tmp/"

# The sample: made by rar on the host, since rar is not in the root.
sample=$work/sample
mkdir -p "$sample/docs/notes"
printf 'Extracted by Ostrel.\n' >"$sample/readme.txt"
printf 'first note\n' >"$sample/docs/notes/one.txt"
head -c 300000 /dev/urandom >"$sample/docs/data.bin"
(cd "$sample" && rar a -idq -r "$chroot_dir/tmp/sample.rar" readme.txt docs)
cp -a "$sample" "$chroot_dir/tmp/expected"

cp "$root/scripts/install-test-inside.sh" "$chroot_dir/tmp/inside.sh"
# Downloaded packages are kept between runs; everything else is fresh.
unshare --mount --propagation private bash -euc '
  r=$1 debs=$2 deb=$3 multiarch=$4
  mount -t proc proc "$r/proc"
  mount --rbind /dev "$r/dev"
  mount -t tmpfs tmpfs "$r/run"
  mount --bind "$debs" "$r/var/cache/apt/archives"
  chroot "$r" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    bash /tmp/inside.sh "/tmp/$(basename "$deb")" "$multiarch"
' install-test "$chroot_dir" "$packages_cache" "$deb" "$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
echo "install test passed"
