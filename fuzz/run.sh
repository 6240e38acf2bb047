#!/bin/sh
# Builds the image rows' libFuzzer harness with clang in BUILD_DIR and runs
# it for SECONDS, starting from the committed seeds in fuzz/corpus and the
# files tests/malformed/generate.py writes (encoder fixtures, their cuts and
# mutations, and large sparse files).
#   fuzz/run.sh BUILD_DIR SECONDS
# With ALLEGRO_SOURCE set to an unpacked Allegro 4.4 source tree (the one
# `apt-get source allegro4.4` gives), the library's BMP, PCX and TGA
# loaders are built into the harness with AddressSanitizer, so an accepted
# file that makes them write out of bounds is caught, not only one that
# crashes. Needs clang, libclang-rt-14-dev, and for the generated seeds
# python3-pil, imagemagick and netpbm. New inputs go to a temporary folder;
# crash and timeout inputs are kept in BUILD_DIR/artifacts.
set -eu
if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)

c_compiler=""
[ -n "${ALLEGRO_SOURCE:-}" ] && c_compiler="-DCMAKE_C_COMPILER=clang"
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  $c_compiler -DMKCOLORMAP_FUZZ=ON -DMKCOLORMAP_TESTS=OFF \
  -DMKCOLORMAP_FUZZ_ALLEGRO_SOURCE="${ALLEGRO_SOURCE:-}" >/dev/null
cmake --build "$build" -j2 --target image_entry_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/seeds"
cp "$root"/fuzz/corpus/* "$work/seeds/"
/usr/bin/python3 "$root/tests/malformed/generate.py" --fuzz-corpus "$work/seeds" --with-malformed
mkdir -p "$build/artifacts"
# The heap bound of 8 MiB and the file-size bound inside the harness keep
# memory flat; -timeout catches time that is not linear in the bytes read.
"$build/fuzz/image_entry_fuzz" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
  -malloc_limit_mb=8 -max_len=8192 -print_final_stats=1 -artifact_prefix="$build/artifacts/" \
  "$work/corpus" "$work/seeds"
