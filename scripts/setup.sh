#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the benchmarks need on a Debian machine.
# Idempotent and quiet when everything is already there. Runs as root (or through sudo).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
third_party="$here/third_party"

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  cmake ninja-build make pkg-config
  g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  libbz2-dev bzip2 libcurl4-openssl-dev curl libgtest-dev googletest libcli11-dev
  nginx xvfb xdotool imagemagick fonts-dejavu-core python3 openssl dpkg-dev locales
  wine wine32:i386
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

apt_updated=0
apt_update() { [ $apt_updated = 1 ] || { as_root apt-get update -qq >/dev/null; apt_updated=1; }; }

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  apt_update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# libbz2 for the Windows programs is compiled from Debian's own bzip2 sources.
if [ ! -f "$third_party/bzip2/bzlib.h" ]; then
  src_list=/etc/apt/sources.list.d/debian-src.sources
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ -z "$release" ]; then
      echo "setup: /etc/os-release names no VERSION_CODENAME for the deb-src entry" >&2
      exit 1
    fi
    as_root tee "$src_list" >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $release
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt_updated=0
  fi
  apt_update
  rm -rf "$third_party/src" && mkdir -p "$third_party/src"
  fetch_log=$third_party/src/fetch.log
  if ! (cd "$third_party/src" && apt-get source -qq --download-only bzip2 && dpkg-source -x --no-check ./bzip2_*.dsc bzip2) >"$fetch_log" 2>&1; then
    echo "setup: fetching Debian's bzip2 sources failed:" >&2
    cat "$fetch_log" >&2
    exit 1
  fi
  rm -rf "$third_party/bzip2" && mv "$third_party/src/bzip2" "$third_party/bzip2"
  rm -rf "$third_party/src"
  echo "setup: bzip2 sources in $third_party/bzip2"
fi
