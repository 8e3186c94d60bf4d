# Sourced by run_tests.sh, demo.sh and the benchmark: which Windows build runs
# under Wine on this machine (tests/wine/wine_platform.py). Sets
# WINE_PLATFORM (win32 or win64), WINE_PRESET and WINE_FAST_PRESET (the
# build trees run under Wine) and says which and why in one line.
#
# The shipped program is the 32-bit one (preset "windows"); it runs where
# the kernel runs 32-bit code. Elsewhere the 64-bit build of the same
# sources runs under wine64. TEMBRA_WINE_PLATFORM=win32|win64 forces it.
choose_wine_build() {
    local choice
    choice=$(python3 tests/wine/wine_platform.py) || return 1
    WINE_PLATFORM=${choice%% *}
    if [ "$WINE_PLATFORM" = win64 ]; then
        WINE_PRESET=windows64 WINE_FAST_PRESET=windows64-fast
        echo "$1 runs the 64-bit build under wine64 (build/$WINE_PRESET): ${choice#* }"
    else
        WINE_PRESET=windows WINE_FAST_PRESET=windows-fast
        echo "$1 runs the 32-bit program under 32-bit Wine (build/$WINE_PRESET): ${choice#* }"
    fi
}
