# Shared by the scripts: repository root, and a one-time install on a fresh
# machine (scripts/setup.sh needs root).
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"

ensure_setup() {
  local missing=0
  for tool in cmake ninja g++ clang++ x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix /usr/lib/wine/wine64 Xvfb wrestool; do
    command -v "$tool" >/dev/null 2>&1 || missing=1
  done
  [ -f /usr/include/lcms2.h ] && [ -f /usr/include/png.h ] && [ -d /usr/src/googletest ] || missing=1
  compgen -G '/usr/include/*/tiffio.h' >/dev/null || [ -f /usr/include/tiffio.h ] || missing=1
  # libFuzzer's runtime (the fuzz preset) comes in a package of its own.
  [ -f "$(clang -print-runtime-dir 2>/dev/null)/libclang_rt.fuzzer-x86_64.a" ] || missing=1
  local stem
  for stem in lcms2 glew zlib libpng1.6 tiff; do
    ls "$root"/third_party/sources/"$stem"_*.orig.tar.* >/dev/null 2>&1 || missing=1
    ls "$root"/third_party/sources/"$stem"_*.debian.tar.* >/dev/null 2>&1 || missing=1
  done
  if [ "$missing" = 1 ]; then
    echo "== installing build dependencies (scripts/setup.sh)"
    if [ "$(id -u)" = 0 ]; then bash "$root/scripts/setup.sh"; else sudo bash "$root/scripts/setup.sh"; fi
  fi
}
