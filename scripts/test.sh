#!/usr/bin/env bash
# Installs what is needed, builds the station and runs every test (CTest prints the
# counts at the end). Run as root on Debian 12: bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure --parallel 2
