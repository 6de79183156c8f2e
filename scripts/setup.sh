#!/usr/bin/env bash
# Installs everything Ostrel needs to build and test on Debian 12. Run as root.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libunrar-dev rar
  qt6-base-dev qt6-base-dev-tools libqt6dbus6 libqt6svg6 qt6-l10n-tools
  xvfb xauth xdg-utils desktop-file-utils shared-mime-info dbus-daemon
  attr e2fsprogs util-linux procps
  libseccomp-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# The UnRAR library and the rar tool live in Debian's non-free component.
# Derive a sources entry from the existing Debian one, with only the component changed.
nonfree=/etc/apt/sources.list.d/ostrel-non-free.sources
if [ ! -f "$nonfree" ]; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    # First stanza of the Debian sources file (the main archive, not security).
    awk 'BEGIN{RS=""; ORS="\n\n"} NR==1' /etc/apt/sources.list.d/debian.sources |
      sed -E 's/^Components:.*/Components: non-free/' | $SUDO tee "$nonfree" >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb\s' /etc/apt/sources.list | grep -v security | head -n 1 |
      awk '{ $0 = $1 " " $2 " " $3 " non-free"; print }' |
      $SUDO tee /etc/apt/sources.list.d/ostrel-non-free.list >/dev/null
    nonfree=/etc/apt/sources.list.d/ostrel-non-free.list
  fi
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
