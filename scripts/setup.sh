#!/usr/bin/env bash
# Installs everything the builds and tests need on a fresh Debian 12 machine.
# Run as root. Safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Source packages (Little CMS 2 and GLEW for the Windows builds) need deb-src entries.
src=/etc/apt/sources.list.d/debian.sources
if [ -f "$src" ] && ! grep -q '^Types: deb deb-src' "$src"; then
  sed -i 's/^Types: deb$/Types: deb deb-src/' "$src"
fi
if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list && ! grep -q '^deb-src ' /etc/apt/sources.list; then
  sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >> /etc/apt/sources.list
fi

apt-get update -q
apt-get install -y -q --no-install-recommends \
  build-essential cmake ninja-build git ca-certificates dpkg-dev patch xz-utils file \
  googletest libgtest-dev libbenchmark-dev liblcms2-dev libglew-dev libpng-dev libstb-dev \
  libgl-dev libegl-dev libgl1-mesa-dri libegl-mesa0 libglx-mesa0 libx11-dev \
  xvfb xauth x11-utils imagemagick \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  wine64 libosmesa6 libgl1 fonts-wine fonts-liberation \
  libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1 libxcomposite1 libxxf86vm1 libxfixes3 \
  fp-utils icoutils
# clang and libFuzzer's runtime for the fuzz targets (scripts/fuzz.sh).
apt-get install -y -q --no-install-recommends clang libclang-rt-14-dev

# Debian's source tarballs of the two libraries the Windows modules link statically.
# They live in a git-ignored folder of the checkout and are never committed.
third="$here/third_party/sources"
mkdir -p "$third"
if ! ls "$third"/lcms2_*.orig.tar.* >/dev/null 2>&1 || ! ls "$third"/glew_*.orig.tar.* >/dev/null 2>&1; then
  (cd "$third" && apt-get source --download-only lcms2 glew)
fi
echo "setup: done"
