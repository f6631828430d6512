#!/usr/bin/env bash
# Builds and runs every test: first the unit tests and short fuzz runs under
# AddressSanitizer + UndefinedBehaviorSanitizer (clang, build-asan/), then the
# Release build (build/) with all tests, benchmarks compiled but not run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
jobs=$(nproc)
werror=ON
export QT_QPA_PLATFORM=offscreen
# Leak reports from the system libraries' own caches are not ours.
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DOCUMBRA_SANITIZE=ON -DOCUMBRA_WERROR=$werror -DOCUMBRA_BENCH=OFF >/dev/null
cmake --build "$top/build-asan" -j "$jobs"
(cd "$top/build-asan" && ctest --output-on-failure -j "$jobs" --timeout 600)

cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DOCUMBRA_WERROR=$werror >/dev/null
cmake --build "$top/build" -j "$jobs"
cd "$top/build" && ctest --output-on-failure -j "$jobs" --timeout 600
