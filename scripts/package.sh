#!/usr/bin/env bash
# Builds the station's Debian package with CPack: build-package/quvelocap_<version>_amd64.deb.
#   bash scripts/package.sh            build the .deb
#   bash scripts/package.sh --check    and then check it with lintian (no error or warning
#                                      may remain), install it with apt and run the end-to-end
#                                      test on the installed /usr/bin/quvelocap as a user
#                                      who cannot write /usr/bin (nobody), so the work file
#                                      has to go to that user's cache folder
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian's own compiler and linker flags, as a package built by dpkg-buildpackage gets
# them: fortified functions, stack protector, read-only relocations bound at start-up
# (relro, bindnow) and a position-independent executable. CMake does not read CPPFLAGS,
# so they go in front of the compiler flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DQUVELOCAP_BUILD_BENCHMARKS=OFF \
    -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" \
    -DCMAKE_MODULE_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build build-package -j"$(nproc)"
rm -f build-package/quvelocap_*.deb
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls build-package/quvelocap_*.deb)
echo "package: $deb ($(stat -c %s "$deb") bytes)"
dpkg-deb -f "$deb" Depends Recommends | sed 's/^/    /'

[[ ${1:-} == --check ]] || exit 0

# What Debian's package checker says; any error or warning fails the check.
# (Its notice that it runs as root is no finding about the package.)
report=$(lintian --info "$deb" 2>&1 | grep -v '^running with root privileges' || true)
if [[ -n $report ]]; then
    echo "lintian:"
    echo "$report" | sed 's/^/    /'
else
    echo "lintian: no findings"
fi
if grep -qE '^[EW]: ' <<<"$report"; then
    echo "package: lintian reports errors or warnings" >&2
    exit 1
fi

apt-get install -y -qq --reinstall "./$deb" >/dev/null
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' quvelocap)"
# The run needs its script and the window's design where nobody can read them.
run=$(mktemp -d /tmp/qc-package-check.XXXXXX)
trap 'rm -rf -- "$run"' EXIT
cp tests/station/e2e_station.sh src/shell/frmImageCapture.ui "$run/"
chown -R nobody: "$run"
runuser -u nobody -- env -i PATH=/usr/bin:/bin \
    bash "$run/e2e_station.sh" /usr/bin/quvelocap "$run/frmImageCapture.ui" "$run/work"
