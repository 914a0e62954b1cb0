#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the benchmarks need on a Debian machine.
# Idempotent and quiet when everything is already there. Runs as root (or through sudo).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
third_party="$here/third_party"

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# What the programs and the demo need; `setup.sh --demo` installs only these.
packages=(
  cmake ninja-build make pkg-config g++
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  libbz2-dev bzip2 libcurl4-openssl-dev curl libgtest-dev googletest libcli11-dev
  nginx xvfb x11-utils imagemagick fonts-dejavu-core python3 dpkg-dev
  wine wine32:i386 libsodium-dev libzstd-dev autoconf automake libtool
)
# What only the tests and the benchmarks use: the sanitizers and fuzzers (clang), the reference
# tools the benchmarks race, and the tools the tests drive or check with.
test_packages=(
  clang libclang-rt-14-dev lbzip2 time xdotool openssl locales minisign rsync
)
[ "${1:-}" = --demo ] || packages+=("${test_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

apt_updated=0
# A mirror caught in a sync fails one index now and then: try again, then go on with the indexes
# that did arrive (the install that follows says what is really missing).
apt_update() {
  [ $apt_updated = 1 ] && return
  local try
  for try in 1 2 3 4 5; do
    as_root apt-get update -qq >/dev/null && break
    echo "setup: apt-get update failed (try $try of 5)" >&2
    sleep $((try * 5))
  done
  apt_updated=1
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  apt_update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A Russian locale: Wine under LANG=ru_RU.UTF-8 takes code page 1251 as its ANSI code page, which
# the test of Cyrillic file names runs the Windows programs in (locales is a test package).
if [ "${1:-}" != --demo ] && ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  echo "setup: generating the locale ru_RU.UTF-8"
  if ! grep -qx 'ru_RU.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ru_RU.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  fi
  as_root locale-gen >/dev/null
fi

# Libraries of the Windows programs are compiled from Debian's own source packages.
ensure_deb_src() {
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ -z "$release" ]; then
      echo "setup: /etc/os-release names no VERSION_CODENAME for the deb-src entry" >&2
      exit 1
    fi
    as_root tee /etc/apt/sources.list.d/debian-src.sources >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $release
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt_updated=0
  fi
  apt_update
}

# fetch_source PACKAGE DEST: Debian's source package PACKAGE, unpacked with its patches into DEST.
fetch_source() {
  local package=$1 dest=$2 work="$third_party/src"
  ensure_deb_src
  rm -rf "$work" && mkdir -p "$work"
  if ! (cd "$work" && apt-get source -qq --download-only "$package" && dpkg-source -x --no-check ./"${package}"_*.dsc "$package") \
      >"$work/fetch.log" 2>&1; then
    echo "setup: fetching Debian's $package sources failed:" >&2
    cat "$work/fetch.log" >&2
    exit 1
  fi
  rm -rf "$dest" && mv "$work/$package" "$dest"
  rm -rf "$work"
  echo "setup: $package sources in $dest"
}

if [ ! -f "$third_party/bzip2/bzlib.h" ]; then
  fetch_source bzip2 "$third_party/bzip2"
fi

# libsodium (signatures) for the Windows programs: a static library built with the MinGW compiler.
# Minimal (no deprecated or rarely used primitives), optimised for size and with a section per
# function, so that the launcher links only what it calls: it carries the library to every player.
# Portable code only: sodium_init links every CPU-specific variant of the ciphers and hashes it can
# choose from (about 70 KB), while the programs hash and sign one small list per run.
sodium="$third_party/libsodium-i686"
sodium_options=(--enable-minimal "CFLAGS=-Os -ffunction-sections -fdata-sections")
sodium_recipe="${sodium_options[*]} portable"
if [ ! -f "$sodium/lib/libsodium.a" ] || [ "$(cat "$sodium/options" 2>/dev/null)" != "$sodium_recipe" ]; then
  [ -f "$third_party/libsodium/configure.ac" ] || fetch_source libsodium "$third_party/libsodium"
  build_log="$third_party/libsodium-build.log"
  rm -rf "$sodium"
  # Debian's source carries no generated configure script: made here, as Debian's own build does.
  if ! (cd "$third_party/libsodium" &&
        { [ ! -f Makefile ] || make distclean; } &&
        { [ -x configure ] || autoreconf -fi; } &&
        ./configure --host=i686-w64-mingw32 CC=i686-w64-mingw32-gcc-posix --prefix="$sodium" \
          --disable-shared --enable-static --disable-pie --with-pic=no "${sodium_options[@]}" &&
        sed -i -E 's/ -DHAVE_[A-Z0-9]+INTRIN_H=1//g' src/libsodium/Makefile &&
        make -j"$(nproc)" && make install) >"$build_log" 2>&1; then
    echo "setup: building libsodium for Windows failed (last lines of $build_log):" >&2
    tail -30 "$build_log" >&2
    exit 1
  fi
  echo "$sodium_recipe" > "$sodium/options"
  echo "setup: libsodium for Windows in $sodium"
fi

# libzstd for the Windows programs, built by its own Makefile with the MinGW compiler as single-
# threaded static libraries with a section per function: whole for the publisher, which compresses
# chunks, and its decompressor alone for the launcher and orvex-update, which carry it to every player.
# build_zstd DEST NAME OPTION...: DEST/lib/libNAME.a, built again when missing or made otherwise.
build_zstd() {
  local dest=$1 name=$2
  shift 2
  [ -f "$dest/lib/lib$name.a" ] && [ "$(cat "$dest/options" 2>/dev/null)" = "$*" ] && return 0
  [ -f "$third_party/libzstd/lib/Makefile" ] || fetch_source libzstd "$third_party/libzstd"
  local build_log="$third_party/lib$name-build.log"
  rm -rf "$dest"
  if ! (cd "$third_party/libzstd/lib" &&
        make clean &&
        make -j"$(nproc)" libzstd.a CC=i686-w64-mingw32-gcc-posix AR=i686-w64-mingw32-ar "$@" &&
        mkdir -p "$dest/lib" "$dest/include" &&
        cp libzstd.a "$dest/lib/lib$name.a" && cp zstd.h zstd_errors.h "$dest/include/") >"$build_log" 2>&1; then
    echo "setup: building lib$name for Windows failed (last lines of $build_log):" >&2
    tail -30 "$build_log" >&2
    exit 1
  fi
  echo "$*" > "$dest/options"
  echo "setup: lib$name for Windows in $dest"
}
zstd_options=(ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0 ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_ASM=1
              "MOREFLAGS=-ffunction-sections -fdata-sections")
build_zstd "$third_party/zstd-i686" zstd "${zstd_options[@]}"
# The players' programs take the smaller of the decoder's variants (one Huffman decoder, one
# sequence decoder) and no unwind tables (no exception passes through it): chunks are small and
# their download, not their decoding, is what a player waits for.
build_zstd "$third_party/zstd-decompress-i686" zstd_decompress ZSTD_LIB_COMPRESSION=0 "${zstd_options[@]}" \
  HUF_FORCE_DECOMPRESS_X1=1 ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT=1 \
  "MOREFLAGS=-ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -fno-unwind-tables"
