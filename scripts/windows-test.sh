#!/usr/bin/env bash
# Cross-builds the station for Windows (scripts/windows-build.sh) and runs its tests under
# Wine, each in a prefix and an X display of its own. Extra arguments go to ctest.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${QUVELOCAP_WINDOWS_BUILD:-$here/build-windows}
bash "$here/scripts/windows-build.sh" "$build"
ctest --test-dir "$build" --output-on-failure -j"${QUVELOCAP_JOBS:-2}" "$@"
