#!/bin/sh
# Fetches and unpacks Allegro 4.4's source from Debian's source packages into
# DIR and prints the tree's path, so that fuzz/run.sh can build the image
# loaders instrumented. Best effort: prints nothing if the source cannot be
# had (no deb-src entry can be added, or the archive lacks it).
#   fuzz/allegro-source.sh DIR
set -u
dir=$1
mkdir -p "$dir"
existing=$(ls -d "$dir"/allegro-4.4.* 2>/dev/null | head -n 1)
if [ -n "$existing" ]; then
  echo "$existing"
  exit 0
fi
if [ "$(id -u)" -eq 0 ] && ! grep -rqs "deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/; then
  cat > /etc/apt/sources.list.d/mkcolormap-fuzz-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  apt-get update -qq >/dev/null 2>&1
fi
# The Debian part of the source package may be missing from the mirror; the
# original tarball is all that is needed.
(cd "$dir" && apt-get source --download-only allegro4.4 >/dev/null 2>&1)
tarball=$(ls "$dir"/allegro4.4_*.orig.tar.gz 2>/dev/null | head -n 1)
[ -n "$tarball" ] || exit 0
tar -xzf "$tarball" -C "$dir" 2>/dev/null || exit 0
ls -d "$dir"/allegro-4.4.* 2>/dev/null | head -n 1
