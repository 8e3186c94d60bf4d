#!/usr/bin/env bash
# Fuzzes every libFuzzer target of the portable core under ASan/UBSan for
# SECONDS each (default 600), as many at a time as there are cores, each from
# its seed corpus (tests/fuzz/seeds) into a corpus of its own under
# build/fuzz-long, and prints the executions per target. CI runs the same
# targets for 30 s each as CTest entries.
#   tools/fuzz_all.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
source tools/ensure_packages.sh
ensure_packages cmake make clang libclang-rt-14-dev libgtest-dev python3
cmake --preset sanitize > /dev/null
targets=$(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
cmake --build --preset sanitize -j "$(nproc)" --target $targets > /dev/null
mkdir -p build/fuzz-long
for target in $targets; do
    mkdir -p "build/fuzz-long/$target/corpus"
    cp -n tests/fuzz/seeds/"$target"/* "build/fuzz-long/$target/corpus/" 2>/dev/null || true
done
echo "fuzzing $(echo $targets | wc -w) targets for $seconds s each, $(nproc) at a time"
printf '%s\n' $targets | xargs -P "$(nproc)" -I{} sh -c \
    'build/sanitize/{} -max_total_time='"$seconds"' -print_final_stats=1 build/fuzz-long/{}/corpus \
         > build/fuzz-long/{}/log.txt 2>&1; echo $? > build/fuzz-long/{}/exit'
failed=0
printf '%-26s %14s %10s  %s\n' target executions "exec/s" result
for target in $targets; do
    log=build/fuzz-long/$target/log.txt
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    code=$(cat "build/fuzz-long/$target/exit")
    result=clean
    [ "$code" = 0 ] || { result="FINDING (exit $code, see $log)"; failed=1; }
    printf '%-26s %14s %10s  %s\n' "$target" "${runs:-?}" "${rate:-?}" "$result"
done
exit $failed
