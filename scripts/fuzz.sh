#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, VIGIL_FUZZ=ON) and runs each for a bounded time:
#   scripts/fuzz.sh [input...]        e.g. scripts/fuzz.sh criteria; default: every target
# VIGIL_FUZZ_SECONDS (default 20) is the time per target, VIGIL_BUILD_DIR the build folder (the
# fuzz build goes to its fuzz/ folder). The committed corpus fuzz/corpus/<input>/ is only read;
# new inputs collect in <build>/fuzz/corpus/<input>/. A crash, failed check, leak, time-out (10 s
# per input) or an allocation above 256 MiB fails the run and leaves the input in
# <build>/fuzz/artifacts/. Extra libFuzzer options can be given in VIGIL_FUZZ_OPTIONS.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VIGIL_BUILD_DIR:-$root/build}/fuzz
seconds=${VIGIL_FUZZ_SECONDS:-20}
jobs=$(nproc 2>/dev/null || echo 2)
cxx=$(command -v clang++-14 || command -v clang++ || true)
cc=$(command -v clang-14 || command -v clang || true)
if [ -z "$cxx" ] || [ -z "$cc" ]; then
    echo "fuzz.sh: clang is not installed" >&2
    exit 2
fi

cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIGIL_FUZZ=ON -DVIGIL_TESTS=OFF >/dev/null
if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for source in "$root"/fuzz/targets/*.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"

passed=0
failed=0
mkdir -p "$build/artifacts"
for input in "${targets[@]}"; do
    corpus="$build/corpus/$input"
    mkdir -p "$corpus"
    options=(-max_total_time="$seconds" -timeout=10 -malloc_limit_mb=256 -rss_limit_mb=2048
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$input-")
    [ -f "$root/fuzz/$input.dict" ] && options+=(-dict="$root/fuzz/$input.dict")
    log="$build/$input.log"
    echo "== fuzz_$input (${seconds} s)"
    set +e
    # shellcheck disable=SC2086
    "$build/bin/fuzz_$input" "${options[@]}" ${VIGIL_FUZZ_OPTIONS:-} "$corpus" \
        "$root/fuzz/corpus/$input" >"$log" 2>&1
    rc=$?
    set -e
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ "$rc" -eq 0 ]; then
        passed=$((passed + 1))
        echo "fuzz_$input: ${runs:-?} runs, no finding"
    else
        failed=$((failed + 1))
        tail -n 60 "$log"
        echo "fuzz_$input: FAILED after ${runs:-?} runs (log: $log)"
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
