#!/usr/bin/env bash
# The one test command: installs what is missing (apt-get, when run as root), builds natively
# with AddressSanitizer and UndefinedBehaviorSanitizer and runs the tests, then cross-builds for
# Windows with MinGW-w64 and runs the same tests under Wine, then builds the libFuzzer targets
# with clang and runs each for VIGIL_FUZZ_SECONDS (default 20; 0 skips them). Exits non-zero on
# any failure.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VIGIL_BUILD_DIR:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)

# --- what the run needs --------------------------------------------------------------------
wine_binary() {
    command -v wine64 2>/dev/null || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } ||
        command -v wine 2>/dev/null || true
}

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
[ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
[ -n "$(wine_binary)" ] || missing+=(wine64)
# The fuzz targets need clang and its fuzzer runtime; without them (and without root to install
# them) the fuzz stage is skipped.
fuzz_seconds=${VIGIL_FUZZ_SECONDS:-20}
have_fuzzer() {
    command -v clang++-14 >/dev/null &&
        compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null
}
if [ "$fuzz_seconds" != 0 ] && ! have_fuzzer && [ "$(id -u)" -eq 0 ]; then
    missing+=(clang-14 libclang-rt-14-dev)
fi

if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "test.sh: missing ${missing[*]}; install them or run as root" >&2
        exit 2
    fi
    echo "== installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q </dev/null
    apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi

summaries=()
status=0

run_ctest() {  # run_ctest label dir args...
    local label=$1 dir=$2
    shift 2
    local log="$dir/ctest.log"
    set +e
    (cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    set -e
    summaries+=("$label: $(grep -E 'tests passed|tests failed' "$log" | tail -n 1)")
    [ "$rc" -eq 0 ] || status=1
}

# --- native: sanitizers, warnings as errors ----------------------------------------------------
echo "== native build (ASan + UBSan)"
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug -DVIGIL_SANITIZE=ON \
    -DVIGIL_WERROR=ON >/dev/null
cmake --build "$build/native" -j "$jobs"
echo "== native tests"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
run_ctest native "$build/native" -j "$jobs"

# --- Windows: MinGW-w64 cross build, tests under Wine -----------------------------------------
echo "== windows build (MinGW-w64)"
cmake -S "$root" -B "$build/windows" -DCMAKE_BUILD_TYPE=Debug -DVIGIL_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build/windows" -j "$jobs"
echo "== windows tests (Wine)"
export WINEDEBUG=-all
prefix="$build/windows/wineprefix"
wineserver=$(dirname "$(wine_binary)")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
# Create the prefix once, before the tests, so that no test pays for it.
"$root/scripts/wine-run" "$prefix" cmd /c exit </dev/null >/dev/null 2>&1 || true
run_ctest windows "$build/windows"
[ -z "$wineserver" ] || WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true

# --- fuzz targets: a bounded run of each, from the committed corpus ---------------------------
if [ "$fuzz_seconds" = 0 ]; then
    echo "== fuzz targets skipped (VIGIL_FUZZ_SECONDS=0)"
elif ! have_fuzzer; then
    echo "== fuzz targets skipped: clang-14 with its fuzzer runtime is not installed"
else
    echo "== fuzz targets (${fuzz_seconds} s each)"
    set +e
    VIGIL_BUILD_DIR=$build VIGIL_FUZZ_SECONDS=$fuzz_seconds "$root/scripts/fuzz.sh" 2>&1 |
        tee "$build/fuzz.log"
    rc=${PIPESTATUS[0]}
    set -e
    line=$(grep -E '^fuzz: ' "$build/fuzz.log" | tail -n 1 || true)
    summaries+=("${line:-fuzz: the fuzz build failed}")
    [ "$rc" -eq 0 ] || status=1
fi

echo
echo "== summary"
for s in "${summaries[@]}"; do echo "$s"; done
exit $status
