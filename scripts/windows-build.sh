#!/usr/bin/env bash
# Cross-builds the station for 64-bit Windows: the program, its tests and benchmarks, in
# build-windows/ (or $1). Leaves build-windows/station/ holding quvelocap.exe with the
# DLLs, Qt plugins and landmark model it loads (scripts/windows-deploy.sh), ready to copy
# to a Windows PC; scripts/windows-package.sh makes the MSI of that folder.
# `ctest --test-dir build-windows` then runs the tests under Wine (scripts/wine-run.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-windows}
bash "$here/scripts/install-windows-deps.sh" >&2
sdk=$(bash "$here/scripts/windows-sdk.sh" | tail -1)
mkdir -p "$build"
build=$(cd "$build" && pwd)

cmake -G Ninja -S "$here" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" -DQUVELOCAP_WINSDK="$sdk" \
    -DCMAKE_PREFIX_PATH="$sdk" -DCMAKE_BUILD_TYPE=Release \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQUVELOCAP_BUILD_BENCHMARKS=ON \
    "-DCMAKE_CROSSCOMPILING_EMULATOR=env;QUVELOCAP_WINSDK=$sdk;QUVELOCAP_WINE_TEMPLATE=$build/wine-template;$here/scripts/wine-run.sh"
cmake --build "$build" -j"${QUVELOCAP_JOBS:-2}"

# What the exe loads beside it, and nothing else: the folder the MSI installs.
station=$build/station
bash "$here/scripts/windows-deploy.sh" "$build/src/quvelocap.exe" "$sdk" "$station"
echo "windows-build: $station/quvelocap.exe"
