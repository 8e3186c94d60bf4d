#!/usr/bin/env bash
# The download benchmark (not a test): builds what it needs, then runs
# tools/bench/bench.py with the given options (--rounds N, --sizes 1,16,64,
# --kinds fast,curl,...): the program as built by default and for fast lines.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/ensure_packages.sh
ensure_packages cmake make g++ libgtest-dev python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 \
                libgnutls30:i386 xvfb xauth x11-apps nginx-light curl
source tools/wine_build.sh
choose_wine_build "The benchmark"
mkdir -p build
{ cmake --preset "$WINE_PRESET" && cmake --build --preset "$WINE_PRESET" -j "$(nproc)" &&
  cmake --preset "$WINE_FAST_PRESET" && cmake --build --preset "$WINE_FAST_PRESET" -j "$(nproc)" --target tembra &&
  cmake --preset host && cmake --build --preset host -j "$(nproc)" --target tembra_tool; } > build/bench-build.log 2>&1 ||
    { tail -30 build/bench-build.log; exit 1; }
exec python3 tools/bench/bench.py --windows-build "build/$WINE_PRESET" --fast-build "build/$WINE_FAST_PRESET" "$@"
