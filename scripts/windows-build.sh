#!/usr/bin/env bash
# Cross-builds the station for 64-bit Windows: the program, its tests and benchmarks, in
# build-windows/ (or $1). Leaves build-windows/station/ holding quvelocap.exe with the
# DLLs and Qt plugins it needs, ready to copy to a Windows PC.
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

# What the exe needs beside it: Qt's DLLs and plugins, sqlite3, libjpeg-turbo, MinGW's runtime.
station=$build/station
rm -rf "$station"
mkdir -p "$station/platforms" "$station/imageformats"
cp "$build/src/quvelocap.exe" "$station/"
cp "$sdk"/bin/Qt6Core.dll "$sdk"/bin/Qt6Gui.dll "$sdk"/bin/Qt6Widgets.dll "$sdk"/bin/Qt6Concurrent.dll \
    "$sdk"/bin/libsqlite3-0.dll "$sdk"/bin/libturbojpeg.dll "$sdk"/bin/libjpeg-62.dll "$station/"
cp "$sdk"/plugins/platforms/qwindows.dll "$sdk"/plugins/platforms/qoffscreen.dll "$station/platforms/"
cp "$sdk"/plugins/imageformats/qjpeg.dll "$sdk"/plugins/imageformats/qico.dll "$station/imageformats/"
for dll in libstdc++-6.dll libgcc_s_seh-1.dll; do
    cp "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)" "$station/"
done
cp /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$station/"
echo "windows-build: $station/quvelocap.exe"
