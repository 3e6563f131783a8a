#!/usr/bin/env bash
# Installs what is needed, builds the station and starts it in demo mode: the built-in
# SQLite database with a few units and students, and the test-pattern camera.
# Run as root on Debian 12: bash scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target quvelocap

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    exec build/src/quvelocap --demo
fi

cat <<'MSG'
No display here, so the station runs on a virtual one (Xvfb).
To look at it, take a screenshot from another shell while it runs:
    DISPLAY=:99 import -window root station.png
or connect a VNC viewer after: x11vnc -display :99
Stop it with Ctrl-C.
MSG
exec xvfb-run -n 99 -s '-screen 0 1280x1024x24' build/src/quvelocap --demo
