#!/usr/bin/env bash
# Sets up a Debian machine for the project, builds the Windows program (also
# with the fast-line read settings) and the host tree, and runs every test
# through CTest: host unit tests and fuzzers under ASan/UBSan, then the tests
# that run the Windows builds under Wine.
#
# The shipped program is 32-bit and is built and checked everywhere. Where
# this machine's kernel runs no 32-bit code (and so no 32-bit Wine), the Wine
# tests run the 64-bit build of the same sources under wine64 instead
# (tools/wine_build.sh).
set -euo pipefail
cd "$(dirname "$0")"

source tools/ensure_packages.sh
ensure_packages cmake make g++ clang libclang-rt-14-dev libgtest-dev python3 g++-mingw-w64-i686 \
                g++-mingw-w64-x86-64 libssl-dev nlohmann-json3-dev wine wine64 wine32:i386 libgnutls30:i386 \
                xvfb xauth x11-apps nginx-light osslsigncode openssl squid fonts-wqy-microhei

source tools/wine_build.sh
choose_wine_build "Every Wine test"

jobs=$(nproc)
# The shipped 32-bit program is built (and checked) on every machine.
for preset in $(printf '%s\n' windows "$WINE_PRESET" "$WINE_FAST_PRESET" | sort -u); do
    cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset" -j "$jobs" > /dev/null
done
cmake --preset sanitize > /dev/null
cmake --build --preset sanitize -j "$jobs" > /dev/null

# Whatever a test leaves of Wine in the test prefix is stopped on the way out.
trap 'WINEPREFIX="$PWD/build/sanitize/wineprefix" wineserver -k > /dev/null 2>&1 || true' EXIT
ctest --preset sanitize
