#!/usr/bin/env bash
# Installs everything Ostrel needs to build and test on Debian 12. Run as root.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

# What a build needs beyond build-essential (g++, make, dpkg-dev): the
# Build-Depends of debian/control name exactly these (debhelper as
# debhelper-compat), which scripts/package.sh checks.
build_packages=(
  debhelper
  cmake ninja-build pkg-config patch
  qt6-base-dev qt6-base-dev-tools qt6-l10n-tools
  libseccomp-dev libarchive-dev
  scdoc librsvg2-bin
)
# Only print the list, for that check.
if [ "${1:-}" = "--build-packages" ]; then
  printf '%s\n' "${build_packages[@]}"
  exit 0
fi

packages=(
  build-essential "${build_packages[@]}"
  clang-format git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  rar
  unrar
  libarchive-tools 7zip p7zip-full
  time
  libqt6dbus6 libqt6svg6
  xvfb xauth xdg-utils desktop-file-utils shared-mime-info dbus-daemon
  attr e2fsprogs util-linux procps
  qt6-translations-l10n
  openbox
  x11-utils xdotool
  lintian appstream
  debootstrap
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# The UnRAR library is built from Debian's source package, fetched once into a
# cache outside the checkout so that later builds need no network.
unrar_version=$(cat "$(dirname "${BASH_SOURCE[0]}")/../third_party/unrar/debian-version")
unrar_cache=${OSTREL_UNRAR_CACHE:-/var/cache/ostrel}
unrar_dir="$unrar_cache/unrar-nonfree-${unrar_version#*:}"
nonfree=/etc/apt/sources.list.d/ostrel-non-free.sources
nonfree_list=/etc/apt/sources.list.d/ostrel-non-free.list
if [ ${#missing[@]} -eq 0 ] && [ -f "$unrar_dir/dll.cpp" ] &&
  { grep -qs 'deb-src' "$nonfree" || grep -qs '^deb-src' "$nonfree_list"; }; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# rar, unrar and the UnRAR source live in Debian's non-free component. Derive
# a sources entry (binary and source) from the existing Debian one, with only
# the component changed.
if ! grep -qs 'deb-src' "$nonfree" && ! grep -qs '^deb-src' "$nonfree_list"; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    # First stanza of the Debian sources file (the main archive, not security).
    awk 'BEGIN{RS=""; ORS="\n\n"} NR==1' /etc/apt/sources.list.d/debian.sources |
      sed -E -e 's/^Components:.*/Components: non-free/' -e 's/^Types:.*/Types: deb deb-src/' |
      $SUDO tee "$nonfree" >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb\s' /etc/apt/sources.list | grep -v security | head -n 1 |
      awk '{ print $1 " " $2 " " $3 " non-free"; $1 = "deb-src"; print $1 " " $2 " " $3 " non-free" }' |
      $SUDO tee "$nonfree_list" >/dev/null
  fi
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
[ ${#missing[@]} -eq 0 ] ||
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

if [ ! -f "$unrar_dir/dll.cpp" ]; then
  # apt checks the source index's signature and the files' checksums;
  # dpkg-source unpacks with Debian's own patches applied.
  # Unpacked beside the cache entry and renamed into place, so an interrupted
  # fetch never leaves a partial entry behind.
  $SUDO mkdir -p "$unrar_cache"
  fetch=$($SUDO mktemp -d "$unrar_cache/fetch.XXXXXX")
  # apt downloads as its own unprivileged user where it can.
  $SUDO chmod 755 "$fetch"
  if id _apt >/dev/null 2>&1; then $SUDO chown _apt "$fetch"; fi
  (cd "$fetch" && $SUDO apt-get source -qq "unrar-nonfree=$unrar_version" >/dev/null)
  $SUDO rm -rf "$unrar_dir"
  $SUDO mv "$(find "$fetch" -mindepth 1 -maxdepth 1 -type d | head -n 1)" "$unrar_dir"
  $SUDO rm -rf "$fetch"
fi
