#!/usr/bin/env bash
# Builds Ostrel's Debian package into out/ (or $OSTREL_PACKAGE_DIR) the way
# any user would, with dpkg-buildpackage from debian/, once scripts/setup.sh
# has installed the build dependencies; then checks the result: lintian
# with no error and no warning, the AppStream metainfo and the desktop file
# valid.
#
#   bash scripts/setup.sh && bash scripts/package.sh
#   sudo apt-get install ./out/ostrel_1.0.0_amd64.deb
#
# The UnRAR source comes from the cache setup.sh fills ($OSTREL_UNRAR_CACHE,
# by default /var/cache/ostrel) or from $OSTREL_UNRAR_SOURCE_DIR; the build
# downloads nothing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${OSTREL_PACKAGE_DIR:-$root/out}
# Root installs what is missing; anyone else is told by dpkg-checkbuilddeps.
if [ "$(id -u)" -eq 0 ]; then
  bash "$root/scripts/setup.sh"
fi

# The build needs what setup.sh installs for a build and nothing more: the
# two lists are one list.
declared=$(sed -n '/^Build-Depends:/,/^[A-Z]/p' "$root/debian/control" | sed '$d' |
  sed -e 's/^Build-Depends://' | tr ',' '\n' | sed -e 's/(.*)//' -e 's/[[:space:]]//g' |
  sed -e 's/^debhelper-compat$/debhelper/' | grep -v '^$' | sort)
installed=$(bash "$root/scripts/setup.sh" --build-packages | sort)
if [ "$declared" != "$installed" ]; then
  echo "debian/control's Build-Depends and setup.sh's build packages differ:" >&2
  diff <(echo "$declared") <(echo "$installed") >&2 || true
  exit 1
fi
dpkg-checkbuilddeps "$root/debian/control"

# dpkg-buildpackage builds in the source folder and writes beside it: a copy
# keeps the checkout and the folder above it clean. Its place is fixed, so
# that a compiler cache sees the same paths from one build to the next.
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
stage=$out/package-build
rm -rf "$stage"
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/ostrel-$version"
tar -C "$root" --exclude=./.git --exclude='./build*' --exclude=./out --exclude='./obj-*' \
  --exclude=./debian/ostrel --exclude=./debian/.debhelper -cf - . |
  tar -C "$stage/ostrel-$version" -xf -
# The build downloads nothing: where this shell may, it runs without a
# network, so that anything that tried would fail the build.
offline=()
if unshare --net true 2>/dev/null; then
  offline=(unshare --net --)
fi
(cd "$stage/ostrel-$version" && "${offline[@]}" dpkg-buildpackage -us -uc -b -Jauto)

mkdir -p "$out"
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
# The package, its debug symbols, and the .changes and .buildinfo naming them.
rm -f "$out"/ostrel_*.changes "$out"/ostrel_*.buildinfo "$out"/ostrel_*.deb \
  "$out"/ostrel-dbgsym_*.*deb
mv "$stage"/ostrel*_"$version"_* "$out"/
deb=$out/ostrel_${version}_${arch}.deb

echo "== lintian"
lintian --fail-on error,warning --info "$out/ostrel_${version}_${arch}.changes"

echo "== AppStream and desktop file"
contents=$stage/contents
dpkg-deb -x "$deb" "$contents"
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml
desktop-file-validate "$contents"/usr/share/applications/*.desktop
echo "built $deb"
