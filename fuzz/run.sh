#!/bin/sh
# Builds the image gate's libFuzzer harness with clang in BUILD_DIR and runs
# it for SECONDS, starting from the committed seeds in fuzz/corpus.
#   fuzz/run.sh BUILD_DIR SECONDS
# With ALLEGRO_SOURCE set to an unpacked Allegro 4.4 source tree (the one
# `apt-get source allegro4.4` gives), the library's BMP, LBM, PCX and TGA
# loaders are built into the harness with AddressSanitizer, so an accepted
# file that makes them write out of bounds is caught, not only one that
# crashes. Needs clang and libclang-rt-14-dev. New inputs go to a temporary
# folder; crash and timeout inputs are kept in BUILD_DIR/artifacts.
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
cmake --build "$build" -j2 --target image_gate_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
cp "$root"/fuzz/corpus/* "$work/corpus/"
mkdir -p "$build/artifacts"
"$build/fuzz/image_gate_fuzz" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
  -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$work/corpus"
