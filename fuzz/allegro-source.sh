#!/usr/bin/env bash
# Fetches and unpacks Allegro 4.4's source from Debian's source packages into
# DIR and prints the tree's path, so that fuzz/run.sh can build the image
# loaders instrumented. The fetch and its checks are the packaging scripts'
# (packaging/lib.sh): no root, no change to the system's apt sources. Best
# effort: prints nothing if the source cannot be had.
#   fuzz/allegro-source.sh DIR
set -u
source "$(dirname "$0")/../packaging/lib.sh"
dir=$1
mkdir -p "$dir"
existing=$(ls -d "$dir"/allegro-4.4.* 2>/dev/null | head -n 1)
if [ -n "$existing" ]; then
  echo "$existing"
  exit 0
fi
tarball=$(fetch_allegro_source "$dir" 2>/dev/null) || exit 0
tar -xzf "$tarball" -C "$dir" 2>/dev/null || exit 0
ls -d "$dir"/allegro-4.4.* 2>/dev/null | head -n 1
