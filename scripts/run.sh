#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it on its default data folder
# (build/data/ beside the executable). Arguments are passed on, e.g. "book 家庭.db".
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Sources added since the last build are not seen by the existing moc/uic run; make it look again.
find build build-asan -path '*_autogen*' -name timestamp -delete 2>/dev/null || true
cmake -S . -B build -G Ninja
cmake --build build -j"$(nproc)" --target quorvane
exec build/quorvane "$@"
