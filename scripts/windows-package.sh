#!/usr/bin/env bash
# Cross-builds the station for Windows (scripts/windows-build.sh) and makes its installer:
# build-windows/quvelocap-<version>-x64.msi (scripts/windows-msi.sh), holding exactly the
# folder build-windows/station/. Extra argument: another build folder.
#
# On the school's PC, as an administrator:  msiexec /i quvelocap-<version>-x64.msi /qn
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${QUVELOCAP_WINDOWS_BUILD:-$here/build-windows}}
bash "$here/scripts/windows-build.sh" "$build"
build=$(cd "$build" && pwd)
version=$(sed -n 's/^project(QuveloCap VERSION \([0-9.]*\) .*/\1/p' "$here/CMakeLists.txt")
[[ -n $version ]] || { echo "windows-package: no project version in CMakeLists.txt" >&2; exit 1; }
msi=$build/quvelocap-$version-x64.msi
bash "$here/scripts/windows-msi.sh" "$build/station" "$version" "$build/src/quvelocap.ico" "$msi"
echo "windows-package: $msi ($(stat -c %s "$msi") bytes)"
(cd "$build/station" && find . -type f -printf '    %P  %s bytes\n' | LC_ALL=C sort)
