#!/usr/bin/env bash
# The portable Linux build, as a user gets it: installs the tarball by the
# README's own lines (taken from its "Any Linux" section) into a home folder
# of the test's own, finds every program of packaging/lib.sh on PATH and its
# manual page through MANPATH, checks that the program is statically linked
# and loads nothing, builds the shipped example byte for byte in an empty
# root that holds only the program and the example's files (no /usr/lib, no
# /proc, no /etc), splits it and rebuilds it from the list in another such
# root, and runs the end-to-end suites against both programs.
#   tests/package/test_tarball.sh build-linux/mkcolormap-1.00-linux-x86_64.tar.gz
# The empty root is a chroot as root, a bwrap sandbox otherwise. Everything
# it writes is in its own temporary folder.
# Needs: file, ldd, man (man-db), python3 with Pillow, netpbm and
# GraphicsMagick (the suite's), and bwrap when not run as root.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
source "$source_dir/packaging/lib.sh"
[ $# -eq 1 ] || { echo "usage: $0 TARBALL" >&2; exit 2; }
tarball=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")

source "$source_dir/tests/package/checks.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/mkcolormap-tarball-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== The README's install lines"
# The sh block of the section that holds the tarball's tar line.
awk '/^### Any Linux/ { on = 1; next } /^##/ { on = 0 }
  on && /^```sh$/ { block = ""; inside = 1; next }
  on && inside && /^```$/ { inside = 0; if (block ~ /tar -xzf/) print block; next }
  on && inside { block = block $0 "\n" }' "$source_dir/README.md" >"$work/install.sh"
grep -q "tar -xzf $(basename "$tarball") " "$work/install.sh" ||
  die "the README's install lines do not extract $(basename "$tarball"): $(cat "$work/install.sh")"
mkdir -p "$work/home/Downloads"
cp "$tarball" "$work/home/Downloads/"
# Each program as the shell and man find it after those lines, in the shell
# that ran them.
for program in $programs; do
  echo "command -v $program; man -w $program"
done >>"$work/install.sh"
(cd "$work/home/Downloads" && env -u MANPATH HOME="$work/home" bash -e "$work/install.sh") \
  >"$work/found" 2>&1 || die "the README's install lines failed: $(cat "$work/found")"
prefix="$work/home/.local/opt/$(basename "$tarball" .tar.gz)"
for program in $programs; do
  check "$program is found on PATH in the extracted bin/" grep -qx "$prefix/bin/$program" "$work/found"
  check "man -w $program finds the extracted manual page" \
    grep -qx "$prefix/share/man/man1/$program.1" "$work/found"
done
binary="$prefix/bin/mkcolormap"
[ -x "$binary" ] || die "no $binary"
split="$prefix/bin/splitcolormap"
[ -x "$split" ] || die "no $split"

echo "== Linked statically"
for program in $programs; do
  type=$(file -b "$prefix/bin/$program")
  check "file says $program is statically linked ($type)" grep -q "statically linked" <<<"$type"
  loads=$(ldd "$prefix/bin/$program" 2>&1 || true)
  check_not "ldd finds nothing for $program to load ($(tr '\n' ' ' <<<"$loads"))" \
    grep -q '\.so' <<<"$loads"
done

echo "== The example in an empty root"
root="$work/root"
mkdir "$root"
cp "$binary" "$root/"
for file in $(grep -v '^#' "$source_dir/examples/maps.ini") maps.ini; do
  cp "$source_dir/examples/$file" "$root/"
done
if [ "$(id -u)" -eq 0 ]; then
  sandbox=(chroot "$root")
else
  sandbox=(bwrap --bind "$root" / --chdir / --unshare-all --die-with-parent)
fi
status=0
"${sandbox[@]}" /mkcolormap maps.ini >"$work/out" 2>"$work/err" || status=$?
check "it exits with 0 (got $status)" [ "$status" -eq 0 ]
check "it prints the DONE line only" [ "$(cat "$work/out")" = \
  'DONE. File "colormap.bin" sucessfully made based upon file "maps.ini"' ]
check "standard error is empty" [ ! -s "$work/err" ]
check "colormap.bin has the bytes of examples/colormap.expected" \
  cmp "$root/colormap.bin" "$source_dir/examples/colormap.expected"
# The way back in a second empty root: the map split into its root folder,
# then rebuilt there from the list it wrote (rows are taken from the
# working folder, which a chroot leaves at its root).
back="$work/back"
mkdir "$back"
cp "$binary" "$split" "$source_dir/examples/gradient.bmp" "$back/"
cp "$source_dir/examples/colormap.expected" "$back/colormap.in"
if [ "$(id -u)" -eq 0 ]; then
  sandbox=(chroot "$back")
else
  sandbox=(bwrap --bind "$back" / --chdir / --unshare-all --die-with-parent)
fi
status=0
"${sandbox[@]}" /splitcolormap --palette gradient.bmp colormap.in / >"$work/out" 2>&1 ||
  status=$?
check "splitcolormap splits it (status $status: $(cat "$work/out"))" [ "$status" -eq 0 ]
status=0
"${sandbox[@]}" /mkcolormap maps.ini rebuilt.bin /Q >"$work/out" 2>&1 || status=$?
check "mkcolormap rebuilds it from the list (status $status: $(cat "$work/out"))" \
  [ "$status" -eq 0 ]
check "the rebuilt map has the bytes it was split from" \
  cmp "$back/rebuilt.bin" "$source_dir/examples/colormap.expected"

echo "== The end-to-end suite"
check "tests/e2e/test_e2e.py passes" \
  /usr/bin/python3 "$source_dir/tests/e2e/test_e2e.py" --binary "$binary"
check "tests/e2e/test_split.py passes" \
  /usr/bin/python3 "$source_dir/tests/e2e/test_split.py" --binary "$split" --mkcolormap "$binary"

if [ "$failures" -ne 0 ]; then
  echo "test_tarball: $failures check(s) failed" >&2
  exit 1
fi
echo "test_tarball: all checks passed"
