#!/usr/bin/env bash
# The download benchmark (not a test): builds what it needs, then runs
# tools/bench/bench.py with the given options (--rounds N, --sizes 1,16,64,
# --kinds fast,curl,...): the program as built by default and for fast lines.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/ensure_packages.sh
ensure_packages cmake make g++ libgtest-dev python3 g++-mingw-w64-i686 wine wine32:i386 xvfb xauth x11-apps \
                nginx-light curl
mkdir -p build
{ cmake --preset windows && cmake --build --preset windows -j "$(nproc)" &&
  cmake --preset windows-fast && cmake --build --preset windows-fast -j "$(nproc)" --target tembra &&
  cmake --preset host && cmake --build --preset host -j "$(nproc)" --target tembra_tool; } > build/bench-build.log 2>&1 ||
    { tail -30 build/bench-build.log; exit 1; }
exec python3 tools/bench/bench.py "$@"
