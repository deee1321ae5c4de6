#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs every test; then
# builds everything again with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/) and
# runs every test there too.
#
# The web engine's tests run there with two of AddressSanitizer's checks off for the engine's own
# faults (tests/CMakeLists.txt says which and why).
# Leaks of third-party libraries that LeakSanitizer reports are suppressed in tests/lsan.supp,
# each with the reason; nothing of the program's own may go there.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu

# Sources added since the last build are not seen by the existing moc/uic run; make it look again.
find build build-asan -path '*_autogen*' -name timestamp -delete 2>/dev/null || true
cmake -S . -B build -G Ninja -DQUORVANE_WERROR=ON
cmake --build build -j"$jobs"
(cd build && ctest -j"$jobs" --output-on-failure)

# Without optimisation the sanitizer build compiles fastest, and its tests still run in seconds;
# line tables alone are enough for the sanitizers' reports.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DQUORVANE_WERROR=ON \
    -DQUORVANE_SANITIZE=ON -DQUORVANE_DATA_ONLY=OFF -DQUORVANE_BUILD_BENCH=OFF
cmake --build build-asan -j"$jobs"
# The sanitizers slow the synchronisation rounds about threefold: 300 rounds there (the first run
# keeps the default 1000; the crash test keeps its 110 kills in both). The convergence test's three
# devices and its service all run under them: 30 rounds and large uploads of 15,000 rows there
# (160 rounds and 40,000 rows in the first run).
(cd build-asan && QUORVANE_SYNC_ROUNDS=300 QUORVANE_CONVERGENCE_ROUNDS=30 QUORVANE_CONVERGENCE_LOAD=15000 \
    ctest -j"$jobs" --output-on-failure)
