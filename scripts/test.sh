#!/usr/bin/env bash
# Builds and runs every test: first the unit tests and short fuzz runs under
# AddressSanitizer + UndefinedBehaviorSanitizer (clang, build-asan/), the
# threading tests under ThreadSanitizer (build-tsan/), then the
# Release build (build/) with all tests, benchmarks compiled but not run; as
# root in CI, the release check of the Debian package (scripts/release-check.sh).
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

# The threading tests under ThreadSanitizer: the window's worker (the one
# owner of the pyramid engine's calls) and the stop of a computation asked
# from another thread. Only their target is built.
cmake -S "$top" -B "$top/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DOCUMBRA_TSAN=ON -DOCUMBRA_WERROR=$werror \
  -DOCUMBRA_BENCH=OFF -DOCUMBRA_PYTHON=OFF -DOCUMBRA_DOCS=OFF -DOCUMBRA_FUZZ=OFF >/dev/null
cmake --build "$top/build-tsan" -j "$jobs" --target serial_worker_test parallel_test
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$top/build-tsan/bin/serial_worker_test"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$top/build-tsan/bin/parallel_test"

# The install prefix of the Debian package, so that the release check below
# packages this build as it is.
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr -DOCUMBRA_WERROR=$werror >/dev/null
cmake --build "$top/build" -j "$jobs"
(cd "$top/build" && ctest --output-on-failure -j "$jobs" --timeout 600)

# The release check installs the Debian package into this machine and purges
# it again. It runs whenever this runs as root (as in CI), where installing
# packages is allowed; OCUMBRA_RELEASE_CHECK=0 skips it.
if [ "$(id -u)" -eq 0 ] && [ "${OCUMBRA_RELEASE_CHECK:-1}" != 0 ]; then
  "$top/scripts/release-check.sh" "$top/build"
else
  echo "Release check skipped (it runs as root unless OCUMBRA_RELEASE_CHECK=0)."
fi
