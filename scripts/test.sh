#!/usr/bin/env bash
# Installs what is missing, builds Netquarry and its tests, runs them.
# Extra arguments go to CMake's configure step (for example
# -DNQ_SANITIZE=address,undefined). BUILD_DIR picks the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DNQ_BUILD_TESTS=ON "$@"
cmake --build "$build" --parallel "$(nproc)"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure --no-tests=error --parallel "$(nproc)" ${CTEST_ARGS:-}
