#!/usr/bin/env bash
# Starts the station on a virtual display and saves what the operator sees.
#   bash scripts/screenshot.sh [output.png] [extra station arguments...]
# Default: docs/screenshot.png of the demo station. Needs a build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}
shift || true
args=("$@")
[[ ${#args[@]} -eq 0 ]] && args=(--demo)
mkdir -p "$(dirname "$out")"

xvfb-run -a -s '-screen 0 1280x1024x24' bash -c '
    set -euo pipefail
    out=$1; shift
    build/src/quvelocap "$@" &
    pid=$!
    for _ in $(seq 1 100); do
        if xdotool search --onlyvisible --name "^QuveloCap - Capturar Foto" >/dev/null 2>&1; then
            break
        fi
        sleep 0.1
    done
    sleep 1 # let the first frames and the unit list paint
    import -window root "$out"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
' _ "$out" "${args[@]}"
echo "screenshot: $out"
