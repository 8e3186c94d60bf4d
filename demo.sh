#!/usr/bin/env bash
# The demo: builds the program, publishes a demo package for all eleven
# languages, serves it with nginx on 127.0.0.1 and runs the program under
# Wine. With DISPLAY set you click through it yourself; without, it runs in
# an X server of its own and saves screenshots under build/demo/screenshots.
set -euo pipefail
cd "$(dirname "$0")"
source tools/ensure_packages.sh
ensure_packages cmake make g++ libgtest-dev libssl-dev nlohmann-json3-dev python3 g++-mingw-w64-i686 \
                g++-mingw-w64-x86-64 wine wine64 wine32:i386 libgnutls30:i386 xvfb xauth x11-apps nginx-light fonts-wqy-microhei
source tools/wine_build.sh
choose_wine_build "[demo] The demo"

echo "[demo] building the program and the host tool"
mkdir -p build
log=build/demo-build.log
{ cmake --preset "$WINE_PRESET" && cmake --build --preset "$WINE_PRESET" -j "$(nproc)" &&
  cmake --preset host && cmake --build --preset host -j "$(nproc)" --target tembra_tool; } > "$log" 2>&1 ||
    { tail -30 "$log"; exit 1; }
exec python3 tools/demo/demo.py --windows-build "build/$WINE_PRESET" --tool build/host/tembra_tool --work build/demo/run
