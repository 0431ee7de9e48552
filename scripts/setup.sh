#!/usr/bin/env bash
# Installs everything the builds and tests need on a fresh Debian 12 machine.
# Run as root. Safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Source packages (the libraries the Windows builds link statically) need deb-src entries.
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
  googletest libgtest-dev libbenchmark-dev liblcms2-dev libglew-dev libpng-dev libtiff-dev zlib1g-dev \
  libgl-dev libegl-dev libgl1-mesa-dri libegl-mesa0 libglx-mesa0 libx11-dev \
  xvfb xauth x11-utils imagemagick \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  wine64 libosmesa6 libgl1 fonts-wine fonts-liberation \
  libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1 libxcomposite1 libxxf86vm1 libxfixes3 \
  fp-utils icoutils
# clang and libFuzzer's runtime for the fuzz targets (scripts/fuzz.sh).
apt-get install -y -q --no-install-recommends clang libclang-rt-14-dev

# Debian's source tarballs of the libraries the Windows builds link statically.
# They live in a git-ignored folder of the checkout and are never committed.
# The newest version a mirror lists is not always there yet (security updates
# can answer 404), so each package tries its listed versions newest first.
third="$here/third_party/sources"
mkdir -p "$third"
fetch_source() {
  local package="$1" version
  if ls "$third/$package"_*.orig.tar.* >/dev/null 2>&1 && ls "$third/$package"_*.debian.tar.* >/dev/null 2>&1; then
    return 0
  fi
  for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -urV); do
    if (cd "$third" && apt-get source --download-only "$package=$version"); then
      return 0
    fi
  done
  echo "setup: could not download the source package $package" >&2
  return 1
}
for package in lcms2 glew zlib libpng1.6 tiff; do
  fetch_source "$package"
done
echo "setup: done"
