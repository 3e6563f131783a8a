#!/usr/bin/env bash
# Builds the station's Debian package with CPack: build-package/quvelocap_<version>_amd64.deb.
#   bash scripts/package.sh            build the .deb
#   bash scripts/package.sh --check    and then install it with apt and run the end-to-end
#                                      test on the installed /usr/bin/quvelocap as a user
#                                      who cannot write /usr/bin (nobody), so the work file
#                                      has to go to that user's cache folder
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUVELOCAP_BUILD_TESTS=OFF -DQUVELOCAP_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
rm -f build-package/quvelocap_*.deb
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls build-package/quvelocap_*.deb)
echo "package: $deb ($(stat -c %s "$deb") bytes)"
dpkg-deb -f "$deb" Depends Recommends | sed 's/^/    /'

[[ ${1:-} == --check ]] || exit 0

apt-get install -y -qq --reinstall "./$deb" >/dev/null
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' quvelocap)"
# The run needs its script and the window's design where nobody can read them.
run=$(mktemp -d /tmp/qc-package-check.XXXXXX)
trap 'rm -rf -- "$run"' EXIT
cp tests/station/e2e_station.sh src/shell/frmImageCapture.ui "$run/"
chown -R nobody: "$run"
runuser -u nobody -- env -i PATH=/usr/bin:/bin \
    bash "$run/e2e_station.sh" /usr/bin/quvelocap "$run/frmImageCapture.ui" "$run/work"
