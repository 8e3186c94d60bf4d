#!/usr/bin/env bash
# Sets up a Debian machine for the project, builds the Windows program (also
# with the fast-line read settings) and the host tree, and runs every test
# through CTest: host unit tests and fuzzers under ASan/UBSan, then the tests
# that run the Windows builds under Wine.
set -euo pipefail
cd "$(dirname "$0")"

source tools/ensure_packages.sh
ensure_packages cmake make g++ clang libclang-rt-14-dev libgtest-dev python3 g++-mingw-w64-i686 \
                libssl-dev nlohmann-json3-dev wine wine32:i386 libgnutls30:i386 xvfb xauth x11-apps nginx-light \
                osslsigncode openssl squid

jobs=$(nproc)
cmake --preset windows > /dev/null
cmake --build --preset windows -j "$jobs" > /dev/null
cmake --preset windows-fast > /dev/null
cmake --build --preset windows-fast -j "$jobs" > /dev/null
cmake --preset sanitize > /dev/null
cmake --build --preset sanitize -j "$jobs" > /dev/null

# Whatever a test leaves of Wine in the test prefix is stopped on the way out.
trap 'WINEPREFIX="$PWD/build/sanitize/wineprefix" wineserver -k > /dev/null 2>&1 || true' EXIT
ctest --preset sanitize
