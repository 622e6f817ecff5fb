#!/usr/bin/env bash
# Installs what is missing, builds Netquarry and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build -G Ninja >/dev/null
cmake --build build --parallel "$(nproc)" --target netquarry
exec build/src/app/netquarry "$@"
