# shellcheck shell=bash
# The steps packaging/build-linux and packaging/build-windows share, sourced
# by both (bash): Debian packages installed while waiting for apt's locks,
# Allegro 4.4's source fetched from Debian and checked, the static Allegro
# build, and the packing of the programs into an archive.

packaging_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$packaging_dir")
version=$(sed -n 's/^project(mkcolormap VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")

# The programs both archives hold, each with its manual page. A program the
# CMake project builds goes into the tarball and the zip by being named here.
programs="mkcolormap splitcolormap"

# The Allegro both builds use: Debian 12's source package.
allegro_suite=bookworm
allegro_version=4.4.3.1

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# Another apt or dpkg may be running (an unattended upgrade, another build):
# wait up to ten minutes for it. `apt-get install` waits on dpkg's lock by
# itself; `apt-get update` takes the package lists' lock, which no option
# makes it wait for, so a run that finds a lock taken is tried again.
apt_get() {
  local deadline=$((SECONDS + 600)) log status
  log=$(mktemp)
  while :; do
    status=0
    # In English, whatever the locale, for the message to be recognised.
    LC_ALL=C "$@" -o DPkg::Lock::Timeout=600 2>"$log" || status=$?
    if [ "$status" -eq 0 ] || ! grep -q "Could not get lock\|Unable to lock" "$log" ||
      [ "$SECONDS" -ge "$deadline" ]; then
      break
    fi
    sleep 5
  done
  cat "$log" >&2
  rm -f "$log"
  return "$status"
}

# install_packages PACKAGE...: installs those of Debian's packages that are
# missing (with sudo when not run as root); prints nothing when none is.
install_packages() {
  local missing="" package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing="$missing $package"
    fi
  done
  [ -n "$missing" ] || return 0
  echo "Installing:$missing"
  apt_get $sudo apt-get update -qq
  # shellcheck disable=SC2086
  apt_get $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends $missing >/dev/null
}

# fetch_allegro_source DIR: downloads Debian's source package allegro4.4 into
# DIR (once) and prints the path of its original tarball, checked against the
# .dsc. apt runs with a configuration of its own under DIR (a deb-src line
# signed by Debian's archive key, its own package lists and cache), so it
# needs neither root nor a change to the system's apt sources, and it checks
# the .dsc against the signed index. Only the original tarball is used:
# Debian's changes are packaging for Linux, and the mirror may lack them.
fetch_allegro_source() {
  local dir=$1 apt tarball dsc expected actual
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  tarball="$dir/allegro4.4_$allegro_version.orig.tar.gz"
  if [ ! -f "$tarball" ]; then
    apt="$dir/apt"
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
      "http://deb.debian.org/debian $allegro_suite main" >"$apt/sources.list"
    local options=(-o "Dir::Etc::SourceList=$apt/sources.list"
      -o "Dir::Etc::SourceParts=$apt/sources.list.d"
      -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache")
    # apt-get source fails when a file it did not need is missing, so what
    # counts is the tarball it leaves.
    {
      apt_get apt-get -q "${options[@]}" update &&
        (cd "$dir" && apt_get apt-get "${options[@]}" source --download-only allegro4.4)
    } >"$apt/fetch.log" 2>&1 || true
    if [ ! -f "$tarball" ]; then
      cat "$apt/fetch.log" >&2
      echo "could not fetch allegro4.4_$allegro_version.orig.tar.gz from Debian's source" \
        "package allegro4.4 ($allegro_suite, deb.debian.org)" >&2
      return 1
    fi
    # The package lists (some 20 MB) served this fetch only.
    rm -rf "$apt/lists" "$apt/cache"
  fi
  dsc=$(ls "$dir"/allegro4.4_"$allegro_version"-*.dsc 2>/dev/null | head -n 1)
  if [ -z "$dsc" ]; then
    echo "no allegro4.4_$allegro_version-*.dsc beside $tarball" >&2
    return 1
  fi
  expected=$(awk -v name="$(basename "$tarball")" \
    '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 == name { print $1 }' "$dsc")
  actual=$(sha256sum "$tarball" | cut -d' ' -f1)
  if [ -z "$expected" ] || [ "$expected" != "$actual" ]; then
    echo "$tarball does not match the SHA-256 in $dsc" >&2
    return 1
  fi
  echo "$tarball"
}

# build_allegro DIR [CMAKE OPTION...]: builds Allegro 4.4 as a static
# library with only what SYSTEM_NONE and the image loaders need, and
# installs it into DIR/install. Built once: a later run finds
# DIR/install/lib/liballeg.a and does nothing. The options name the target
# platform's own drivers to leave out, or its toolchain.
build_allegro() {
  local dir=$1 tarball
  shift
  [ -f "$dir/install/lib/liballeg.a" ] && return 0
  tarball=$(fetch_allegro_source "$dir/src")
  rm -rf "$dir/source" "$dir/build"
  mkdir -p "$dir/source"
  tar -xzf "$tarball" -C "$dir/source" --strip-components=1
  echo "Building Allegro $allegro_version (minutes; log in $dir/build.log)"
  cmake -Wno-dev -S "$dir/source" -B "$dir/build" -G "Unix Makefiles" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$dir/install" \
    -DSHARED=OFF -DWANT_EXAMPLES=OFF -DWANT_TOOLS=OFF -DWANT_TESTS=OFF -DWANT_DOCS=OFF \
    -DWANT_ALLEGROGL=OFF -DWANT_LOADPNG=OFF -DWANT_LOGG=OFF -DWANT_JPGALLEG=OFF \
    "$@" >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log" >&2; return 1; }
  nice -n 19 cmake --build "$dir/build" -j2 >"$dir/build.log" 2>&1 ||
    { tail -n 30 "$dir/build.log" >&2; return 1; }
  cmake --install "$dir/build" >"$dir/install.log" 2>&1
}

# The time the archives' files carry: SOURCE_DATE_EPOCH when set, else the
# last commit's, else the README's.
source_date() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    echo "$SOURCE_DATE_EPOCH"
  else
    git -C "$source_dir" log -1 --format=%ct 2>/dev/null || stat -c %Y "$source_dir/README.md"
  fi
}

# make_package linux|windows TOOL_DIR OUT_DIR: packs each of $programs, as
# built in TOOL_DIR, with its manual page, the README and the licence, and
# prints the archive's path.
#   linux:   mkcolormap-VERSION-linux-x86_64.tar.gz, one folder of that name
#            holding bin/PROGRAM, share/man/man1/PROGRAM.1, README.md and
#            LICENSE: bin/ goes on PATH, share/man on MANPATH.
#   windows: mkcolormap-VERSION-windows-x86_64.zip, the files at its top, so
#            that the folder it is unzipped into is the one put on PATH:
#            PROGRAM.exe, the manual as PROGRAM.txt, README.txt and
#            LICENSE.txt, each text file with CR LF line ends so that
#            Notepad on any Windows shows it.
make_package() {
  local kind=$1 tool=$2 out=$3 name stage program
  name="mkcolormap-$version-$kind-x86_64"
  stage="$out/$name"
  rm -rf "$stage" "$out/$name.tar.gz" "$out/$name.zip"
  case "$kind" in
    linux)
      mkdir -p "$stage/bin" "$stage/share/man/man1"
      for program in $programs; do
        install -m 0755 "$tool/$program" "$stage/bin/$program"
        install -m 0644 "$tool/$program.1" "$stage/share/man/man1/$program.1"
      done
      install -m 0644 "$source_dir/README.md" "$source_dir/LICENSE" "$stage/"
      # Owned by root, names in order, every file stamped with the source's
      # time and none in the gzip header: the same files make the same
      # archive.
      tar -C "$out" --sort=name --owner=0 --group=0 --numeric-owner \
        --mtime="@$(source_date)" -cf - "$name" |
        gzip -n -9 >"$out/$name.tar.gz"
      echo "$out/$name.tar.gz"
      ;;
    windows)
      mkdir -p "$stage"
      for program in $programs; do
        cp "$tool/$program.exe" "$stage/"
        # The manual page as the build configured it, rendered as plain text
        # (no overstrike, no escapes).
        LC_ALL=C.UTF-8 groff -man -Tutf8 -P-cbou "$tool/$program.1" 2>/dev/null |
          sed 's/$/\r/' >"$stage/$program.txt"
      done
      sed 's/$/\r/' "$source_dir/README.md" >"$stage/README.txt"
      sed 's/$/\r/' "$source_dir/LICENSE" >"$stage/LICENSE.txt"
      # Stamped with the source's time, as the tarball: the same files make
      # the same zip.
      touch -d "@$(source_date)" "$stage"/*
      (cd "$stage" && zip -q -X "../$name.zip" ./*)
      echo "$out/$name.zip"
      ;;
  esac
}
