#!/usr/bin/env bash
# The Debian package, end to end: builds it with packaging/build-deb, checks its
# control fields, contents and lintian, installs it with `dpkg -i`, runs the
# installed /usr/bin/mkcolormap on a copy of examples/, splits the result with
# /usr/bin/splitcolormap and rebuilds it, checks `man -w`, and removes it with
# `dpkg -r`.
#
# Installs into this machine, so it needs root (or sudo) and refuses to run
# when a mkcolormap package is already installed. Whatever happens, the
# package it installed is purged again on exit. Everything else it writes
# goes to its own temporary folder.
#
# Needs: cmake g++ make pkg-config liballegro4-dev dpkg-dev file lintian man-db
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
package=mkcolormap

source "$source_dir/tests/package/checks.sh"

# The version as CMake's project() gives it, and the package's first release.
upstream_version=$(sed -n 's/^project(mkcolormap VERSION \([^ ]*\) .*/\1/p' "$source_dir/CMakeLists.txt")
[ -n "$upstream_version" ] || die "no version in project() of CMakeLists.txt"
version=$upstream_version-1

if [ "$(id -u)" -eq 0 ]; then
  as_root() { "$@"; }
elif command -v sudo >/dev/null 2>&1; then
  as_root() { sudo "$@"; }
else
  die "installing the package needs root or sudo"
fi

for tool in cmake dpkg-shlibdeps file lintian man gzip cmp; do
  command -v "$tool" >/dev/null 2>&1 || die "missing tool: $tool"
done

package_status() { dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true; }

case "$(package_status)" in
  "" | *not-installed) ;;
  *) die "a $package package is already installed ($(package_status)); not touching it" ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/mkcolormap-deb-test.XXXXXX")
installed_by_us=0
cleanup() {
  local status=$?
  if [ "$installed_by_us" -eq 1 ]; then
    case "$(package_status)" in
      "" | *not-installed) ;;
      *) as_root env DEBIAN_FRONTEND=noninteractive dpkg --purge "$package" >/dev/null || status=1 ;;
    esac
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== Building the package"
"$source_dir/packaging/build-deb" "$work/build" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; die "packaging/build-deb failed"; }
deb=$(tail -n 1 "$work/build.log")
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "${package}_${version}_${arch}.deb" ] ||
  die "the package file is '$deb', expected ${package}_${version}_${arch}.deb"
[ -f "$deb" ] || die "no package file at $deb"
pass "built $(basename "$deb")"

echo "== Control fields"
field() { dpkg-deb -f "$deb" "$1"; }
check "Package: $(field Package) (want $package)" [ "$(field Package)" = "$package" ]
check "Version: $(field Version) (want $version)" [ "$(field Version)" = "$version" ]
check "Architecture: $(field Architecture) (want $arch)" [ "$(field Architecture)" = "$arch" ]
check "Priority: $(field Priority) (want optional)" [ "$(field Priority)" = optional ]
check "Section: $(field Section)" [ -n "$(field Section)" ]
check "Maintainer: $(field Maintainer)" [ -n "$(field Maintainer)" ]
check "Description has a synopsis and a long text" [ "$(field Description | wc -l)" -ge 3 ]
depends=$(field Depends)
echo "Depends: $depends"
tr ',' '\n' <<<"$depends" | sed 's/^ *//' >"$work/depends"
for runtime in 'liballegro4\.4' 'libc6' 'libstdc\+\+6'; do
  check "Depends names ${runtime//\\/} with a minimum version" \
    grep -Eq "^$runtime \(>= [^)]+\)$" "$work/depends"
done
check_not "Depends names no -dev package" grep -q -- '-dev\b' "$work/depends"

echo "== Contents"
dpkg-deb -c "$deb" >"$work/contents"
awk '{sub(/^\./, "", $6); print $6}' "$work/contents" >"$work/paths"
programs="mkcolormap splitcolormap"
for path in /usr/bin/mkcolormap /usr/share/man/man1/mkcolormap.1.gz \
  /usr/bin/splitcolormap /usr/share/man/man1/splitcolormap.1.gz \
  /usr/share/doc/mkcolormap/copyright /usr/share/doc/mkcolormap/changelog.Debian.gz; do
  check "ships $path" grep -qx "$path" "$work/paths"
done
check_not "does not ship the manual pages uncompressed" \
  grep -Eqx '/usr/share/man/man1/(mkcolormap|splitcolormap)\.1' "$work/paths"
not_root=$(awk '$2 != "root/root" {print $6}' "$work/contents")
check "every file is owned by root/root${not_root:+ (not: $not_root)}" [ -z "$not_root" ]
bad_modes=$(awk '$1 !~ /^(drwxr-xr-x|-rw-r--r--|-rwxr-xr-x)$/ {print $1, $6}' "$work/contents")
check "permissions are 0755 or 0644${bad_modes:+ (not: $bad_modes)}" [ -z "$bad_modes" ]
dpkg-deb -x "$deb" "$work/unpacked"
for program in $programs; do
  check "/usr/bin/$program is 0755" grep -q "^-rwxr-xr-x .* \./usr/bin/$program\$" "$work/contents"
  program_type=$(file -b "$work/unpacked/usr/bin/$program")
  check "$program is a stripped ELF file ($program_type)" \
    grep -Eq '^ELF .*, stripped' <<<"$program_type"
  check "its manual page is valid gzip" gzip -t "$work/unpacked/usr/share/man/man1/$program.1.gz"
  gzip -dc "$work/unpacked/usr/share/man/man1/$program.1.gz" >"$work/$program.1"
  check "the manual page is the one the build configured from docs/$program.1.in" \
    cmp -s "$work/$program.1" "$work/build/$program.1"
  check_not "the manual page has no @placeholder@ left" grep -q "@[A-Z_]*@" "$work/$program.1"
  title=$(tr '[:lower:]' '[:upper:]' <<<"$program")
  check "the manual page names version $upstream_version" \
    grep -q "^\.TH $title 1 \"[^\"]*\" \"mkcolormap $upstream_version\"" "$work/$program.1"
done
check "changelog.Debian.gz is valid gzip" \
  gzip -t "$work/unpacked/usr/share/doc/mkcolormap/changelog.Debian.gz"
check "copyright is machine-readable (DEP-5)" grep -qx \
  'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$work/unpacked/usr/share/doc/mkcolormap/copyright"
gzip -dc "$work/unpacked/usr/share/doc/mkcolormap/changelog.Debian.gz" >"$work/changelog"
check "changelog.Debian.gz starts with $package ($version)" \
  [ "$(head -n 1 "$work/changelog" | cut -d' ' -f1-2)" = "$package ($version)" ]

echo "== lintian"
# lintian itself fails on errors (--fail-on error); warnings are shown.
lintian_status=0
lintian --fail-on error --display-info "$deb" >"$work/lintian" 2>&1 || lintian_status=$?
grep -v 'running with root privileges' "$work/lintian" || true
check "lintian exits with 0" [ "$lintian_status" -eq 0 ]
check_not "lintian prints no E: line" grep -q '^E: ' "$work/lintian"

echo "== Installing with dpkg -i"
# Minimal images may exclude manual pages (and docs) from every package via
# path-exclude in /etc/dpkg/dpkg.cfg.d/; command-line filters come after the
# configuration files, so these re-include this package's files.
excludes=$(grep -hs '^[[:space:]]*path-exclude' /etc/dpkg/dpkg.cfg.d/* /etc/dpkg/dpkg.cfg \
  "${HOME:-/root}/.dpkg.cfg" || true)
if [ -n "$excludes" ]; then
  echo "note: dpkg path-exclude rules found; re-including mkcolormap's manual page and docs"
fi
installed_by_us=1
as_root env DEBIAN_FRONTEND=noninteractive dpkg \
  --path-include=/usr/share/man/man1/mkcolormap.1.gz \
  --path-include=/usr/share/man/man1/splitcolormap.1.gz \
  --path-include='/usr/share/doc/mkcolormap/*' \
  -i "$deb" || die "dpkg -i failed"
case "$(package_status)" in
  "install ok installed") pass "dpkg lists $package as installed" ;;
  *) die "after dpkg -i the status is '$(package_status)'" ;;
esac
installed_version=$(dpkg-query -W -f='${Version}' "$package")
check "installed version $installed_version (want $version)" [ "$installed_version" = "$version" ]
for program in $programs; do
  owner=$(dpkg-query -S "/usr/bin/$program" 2>/dev/null | cut -d: -f1 || true)
  check "/usr/bin/$program belongs to the package ($owner)" [ "$owner" = "$package" ]
  check "/usr/bin/$program is executable" [ -x "/usr/bin/$program" ]
done

echo "== Running the installed mkcolormap on examples/"
for file in maps.ini colormap.expected; do
  [ -f "$source_dir/examples/$file" ] || die "missing examples/$file"
done
mkdir "$work/run"
cp -R "$source_dir/examples/." "$work/run/"
rm -f "$work/run/colormap.bin"
run_status=0
(cd "$work/run" && /usr/bin/mkcolormap maps.ini) >"$work/run.out" 2>&1 || run_status=$?
cat "$work/run.out"
check "mkcolormap maps.ini exits with 0 (got $run_status)" [ "$run_status" -eq 0 ]
check "it wrote colormap.bin" [ -f "$work/run/colormap.bin" ]
check "colormap.bin has the bytes of examples/colormap.expected" \
  cmp "$work/run/colormap.bin" "$source_dir/examples/colormap.expected"

echo "== Splitting it with the installed splitcolormap, and rebuilding it"
split_status=0
(cd "$work/run" && /usr/bin/splitcolormap --palette gradient.bmp colormap.bin split &&
  cd split && /usr/bin/mkcolormap maps.ini /Q) >"$work/split.out" 2>&1 || split_status=$?
cat "$work/split.out"
check "splitcolormap and the rebuild exit with 0 (got $split_status)" [ "$split_status" -eq 0 ]
check "the rebuilt colormap.bin has the bytes of examples/colormap.expected" \
  cmp "$work/run/split/colormap.bin" "$source_dir/examples/colormap.expected"

echo "== Manual pages"
for program in $programs; do
  page=$(man -w "$program" 2>/dev/null || true)
  check "man -w $program gives '$page' (want /usr/share/man/man1/$program.1.gz)" \
    [ "$page" = "/usr/share/man/man1/$program.1.gz" ]
  man_status=0
  MANPAGER=cat MANWIDTH=80 man "$program" >"$work/man.txt" 2>"$work/man.err" || man_status=$?
  check "man $program exits with 0 (got $man_status)" [ "$man_status" -eq 0 ]
  check "man $program shows a page naming $program" grep -q "$program" "$work/man.txt"
done

echo "== Removing with dpkg -r"
as_root env DEBIAN_FRONTEND=noninteractive dpkg -r "$package" || fail "dpkg -r failed"
status_after=$(package_status)
check "dpkg -r removed $package (status '$status_after')" \
  grep -Eq '^$|not-installed$|config-files$' <<<"$status_after"
for path in /usr/bin/mkcolormap /usr/share/man/man1/mkcolormap.1.gz /usr/bin/splitcolormap \
  /usr/share/man/man1/splitcolormap.1.gz /usr/share/doc/mkcolormap; do
  check "$path is gone" [ ! -e "$path" ]
done

if [ "$failures" -ne 0 ]; then
  echo "test_deb: $failures check(s) failed" >&2
  exit 1
fi
echo "test_deb: all checks passed"
