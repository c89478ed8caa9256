#!/usr/bin/env bash
# The end-to-end random test at full length: VIGIL_E2E_OPERATIONS changes (default 50,000, seed
# VIGIL_E2E_SEED, default random and printed) made below a folder that the real vigil monitors
# with the platform's provider, then the tables compared with the disk. Release build without
# sanitizers, in VIGIL_BUILD_DIR (default build/e2e-long).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${VIGIL_BUILD_DIR:-$root/build/e2e-long}
export VIGIL_E2E_OPERATIONS=${VIGIL_E2E_OPERATIONS:-50000}
export VIGIL_E2E_SEED=${VIGIL_E2E_SEED:-$RANDOM}
echo "long random run: $VIGIL_E2E_OPERATIONS operations, seed $VIGIL_E2E_SEED"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target vigil_tests vigil vigil_providers
"$build/bin/vigil_tests" --gtest_filter='EndToEnd.RandomChangesLeaveTheCacheEqualToTheDisk'
