#!/usr/bin/env bash
# Installs the Debian 12 packages the Windows cross-build and its Wine test suite need:
# MinGW-w64 with POSIX threads (std::thread, std::mutex), nasm for libjpeg-turbo's SIMD,
# Wine to run the tests, msitools/wixl to read and make MSI files.
# Idempotent: when everything is there already it only checks and returns.
set -euo pipefail

PACKAGES=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools nasm
    wine wine64 msitools wixl
    # the face landmark model the Windows station and its MSI carry
    libdlib-data
    # the SDK script: Debian's source packages, their unpacking, sqlite's amalgamation (tclsh)
    dpkg-dev xz-utils tcl
    # the Wine suite: one virtual X display per test, the end-to-end run's clicks
    xvfb xauth xdotool
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "install-windows-deps: run as root to install: ${missing[*]}" >&2
        exit 1
    fi
    echo "install-windows-deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "install-windows-deps: all packages present"
