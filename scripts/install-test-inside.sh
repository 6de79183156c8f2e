#!/usr/bin/env bash
# The install test's steps inside the fresh Debian root; scripts/install-test.sh
# prepares the root (the package and a sample archive in /tmp) and runs this
# there as root.
set -euo pipefail
deb=$1 multiarch=$2
export DEBIAN_FRONTEND=noninteractive
failures=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what" >&2
    failures=$((failures + 1))
  fi
}

apt-get update -qq
# What a desktop brings along: its MIME tools and man. Ostrel's triggers
# refresh their databases only when they are there.
apt-get install -y -qq --no-install-recommends desktop-file-utils shared-mime-info xdg-utils \
  libglib2.0-bin file man-db >/dev/null

echo "== apt-get install $deb"
apt-get install -y -q "$deb" >/tmp/install.log 2>&1 || { cat /tmp/install.log; exit 1; }
check "the package is installed" dpkg-query -W -f='${Status}\n' ostrel
for file in /usr/bin/ostrel /usr/bin/ostrel-extract /usr/libexec/ostrel/ostrel-decoder \
  "/usr/lib/$multiarch/ostrel/libTovaniCore.so.1" \
  /usr/share/applications/org.ostrel.Ostrel.desktop \
  /usr/share/metainfo/org.ostrel.Ostrel.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/org.ostrel.Ostrel.svg \
  /usr/share/icons/hicolor/48x48/apps/org.ostrel.Ostrel.png \
  /usr/share/icons/hicolor/128x128/apps/org.ostrel.Ostrel.png \
  /usr/share/doc/ostrel/copyright; do
  check "$file is installed" test -f "$file"
done
check "nothing in the public library folder" \
  test -z "$(dpkg -L ostrel | grep -E "^/usr/lib/$multiarch/[^/]+$" | grep -v '/ostrel$' || true)"

echo "== ostrel-extract as an unprivileged user"
useradd --create-home --shell /bin/bash tester
cp /tmp/sample.rar /home/tester/
chown tester:tester /home/tester/sample.rar
as_tester() { runuser -u tester -- env HOME=/home/tester "$@"; }
printed=$(as_tester ostrel-extract --quiet /home/tester/sample.rar)
check "the tool names its output" test "$printed" = /home/tester/sample
check "the output is the archive's content" diff -r /tmp/expected /home/tester/sample
check "the output belongs to the user" test "$(stat -c %U /home/tester/sample/readme.txt)" = tester
check "no workspace is left" test -z "$(find /home/tester -name '.extract-*')"

echo "== the desktop sees Ostrel"
type=$(as_tester xdg-mime query filetype /home/tester/sample.rar)
echo "xdg-mime query filetype: $type"
check "xdg-mime sees a RAR archive" grep -qE '^application/(vnd\.rar|x-rar)' <<<"$type"
default=$(as_tester xdg-mime query default "${type%%;*}")
check "xdg-mime opens it with Ostrel (got '$default')" test "$default" = org.ostrel.Ostrel.desktop
gio_mime=$(as_tester gio mime application/vnd.rar)
echo "$gio_mime"
check "gio lists Ostrel for application/vnd.rar" grep -q 'org.ostrel.Ostrel.desktop' <<<"$gio_mime"
check "the desktop database lists Ostrel" \
  grep -q '^application/vnd.rar=.*org.ostrel.Ostrel.desktop' /usr/share/applications/mimeinfo.cache

echo "== man"
check "man -w ostrel-extract" test "$(man -w ostrel-extract)" = /usr/share/man/man1/ostrel-extract.1.gz
check "man -w ostrel" test "$(man -w ostrel)" = /usr/share/man/man1/ostrel.1.gz

echo "== apt-get purge ostrel"
dpkg -L ostrel >/tmp/ostrel.list
apt-get purge -y -q ostrel >/tmp/purge.log 2>&1 || { cat /tmp/purge.log; exit 1; }
left=()
while IFS= read -r path; do
  [ "$path" != /. ] && [ -e "$path" ] || continue
  # A folder stays when another installed package owns it too.
  [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1 && continue
  left+=("$path")
done </tmp/ostrel.list
check "no file of the package is left (${left[*]:-})" test ${#left[@]} -eq 0
named=$(find / -xdev \( -path /proc -o -path /tmp -o -path /home/tester -o -path /var/log \) -prune \
  -o -iname '*ostrel*' -print)
check "nothing named after it is left (${named})" test -z "$named"
mentions=$(grep -rIl -i 'ostrel' /usr/share/applications /usr/share/mime /usr/share/icons /etc \
  2>/dev/null || true)
check "no cache mentions it (${mentions})" test -z "$mentions"

if [ "$failures" -ne 0 ]; then
  echo "$failures checks failed" >&2
  exit 1
fi
