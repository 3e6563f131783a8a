#!/usr/bin/env bash
# The Windows build's figures under Wine, each against its floor built with the same SDK
# and run the same way in the same run, interleaved so that drift of the machine hits
# both alike. One line per measure: "ratio NAME VALUE" (ours / floor, medians).
#
#   bench/windows/bench_wine.sh [BUILD_FOLDER]     (default build-windows)
#
#   windows_start_to_first_paint   the station (--demo, its database made beforehand) from
#                                  launch to its first painted window, against a bare Qt
#                                  window of the same size; windows platform plugin on Xvfb
#   sqlite_*_store_read            bench_photo_road.exe: the photo stored and read back by
#                                  the station's records, against sqlite3's C API
#   mf_nv12_preview, mf_mjpeg_preview
#                                  bench_mf_preview.exe: a Windows camera's 640 x 480 frame
#                                  (the tests' portraits as NV12 and as MJPEG) into the
#                                  400 x 400 preview, against the plain NV12 conversion and
#                                  TurboJPEG's decode alone
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$here/build-windows}" && pwd)
rounds=${QC_BENCH_STARTS:-9}
sdk=$(sed -n 's/^QUVELOCAP_WINSDK:[A-Z]*=//p' "$build/CMakeCache.txt")
[[ -f $build/station/quvelocap.exe && -f $build/bench/windows/bench_bare_window.exe ]] ||
    { echo "bench: run scripts/windows-build.sh first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quvelocap-bench.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset QT_QPA_PLATFORM WINEQT_QPA_PLATFORM
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
xvfb_pid=$!
until [[ -s $work/display ]]; do sleep 0.1; done
export DISPLAY=:$(head -n1 "$work/display")
if [[ -f $build/wine-template/.ready ]]; then
    cp -a "$build/wine-template" "$WINEPREFIX"
else
    wineboot -i >/dev/null 2>&1
fi
# One server for the whole run: no start's time includes starting it.
wineserver -p
# The floor gets the same DLLs beside it as the station.
floor=$work/floor
cp -a "$build/station" "$floor"
cp "$build/bench/windows/bench_bare_window.exe" "$floor/"

# Microseconds from launch to the program's "first paint" line on stderr.
first_paint_us() {
    local fifo=$work/paint t0 t1 line pid
    rm -f "$fifo"
    mkfifo "$fifo"
    t0=$(date +%s%N)
    QUVELOCAP_REPORT_FIRST_PAINT=1 wine "$@" 2>"$fifo" >/dev/null &
    pid=$!
    while IFS= read -r line; do
        [[ $line == *"first paint"* ]] && break
    done <"$fifo"
    t1=$(date +%s%N)
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null || true
    [[ $line == *"first paint"* ]] || { echo "bench: $1 never painted" >&2; exit 1; }
    echo $(((t1 - t0) / 1000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Untimed: the station makes its demo database, both fill the file cache.
first_paint_us "$floor/bench_bare_window.exe" >/dev/null
first_paint_us "$build/station/quvelocap.exe" --demo >/dev/null
bare=() station=()
for ((i = 0; i < rounds; i++)); do
    bare+=("$(first_paint_us "$floor/bench_bare_window.exe")")
    station+=("$(first_paint_us "$build/station/quvelocap.exe" --demo)")
done
b=$(printf '%s\n' "${bare[@]}" | median)
s=$(printf '%s\n' "${station[@]}" | median)
echo "# start to first paint under Wine, medians of $rounds: bare Qt window $((b / 1000)) ms, station $((s / 1000)) ms"
awk -v s="$s" -v b="$b" 'BEGIN { printf "ratio windows_start_to_first_paint %.3f\n", s / b }'

# The photo's road: the program measures itself against sqlite3 in the same process.
cp "$build/bench/windows/bench_photo_road.exe" "$floor/"
wine "$floor/bench_photo_road.exe" 2>/dev/null | tr -d '\r'

# The Windows camera's preview: the program measures itself against its floors.
cp "$build/bench/windows/bench_mf_preview.exe" "$floor/"
wine "$floor/bench_mf_preview.exe" "Z:$here" 2>/dev/null | tr -d '\r'
