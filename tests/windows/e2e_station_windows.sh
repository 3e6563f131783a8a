#!/usr/bin/env bash
# The road of one photo on the Windows build, under Wine with the windows platform
# plugin on a virtual X display, driven from outside the way an operator drives it:
# real pointer and key events (xdotool) at the controls' designed places. Demo, grab,
# crop, store, read back, export through the system's own save dialog, close.
#
#   e2e_station_windows.sh STATION_FOLDER UI_FILE WORK_FOLDER WINE_TEMPLATE [EXE]
#
# STATION_FOLDER is what scripts/windows-build.sh leaves for a Windows PC; EXE, when
# given, replaces its quvelocap.exe (the one just built). WORK_FOLDER is emptied and
# holds a copy of the folder and the Wine prefix of this run, so the demo database is
# made afresh.
# The station reports its status line through QUVELOCAP_STATUS_FILE (no OCR here).
#
# An installed copy is run where it is instead: E2E_WINEPREFIX names the prefix it was
# installed in (used as it is, not copied), STATION_FOLDER is the installed folder, and
# E2E_SHORTCUT, when given, is the Start-menu shortcut to start it through (Unix path).
set -euo pipefail

station_dir=$1 ui=$2 work=$3 template=$4 exe=${5:-}
timeout_s=${E2E_TIMEOUT:-60}

# Unit "4444" (fourth in the list) has a four-character code; its students start without
# photos. The drag in ImagXpress1, in the control's pixels, at zoom 100%.
unit_presses=3
unit_code=4444
student=4401
drag_from=(40 60)
drag_to=(300 380)
crop_w=$((drag_to[0] - drag_from[0]))
crop_h=$((drag_to[1] - drag_from[1]))

for tool in Xvfb xdotool import identify sqlite3 wine; do
    command -v "$tool" >/dev/null || { echo "e2e: $tool is missing" >&2; exit 1; }
done

[[ -f $station_dir/quvelocap.exe ]] || { echo "e2e: no $station_dir/quvelocap.exe (bash scripts/windows-build.sh)" >&2; exit 1; }
rm -rf -- "$work"
mkdir -p "$work"
installed_prefix=${E2E_WINEPREFIX:-}
if [[ -n $installed_prefix ]]; then
    export WINEPREFIX=$installed_prefix
else
    cp -a "$station_dir" "$work/station"
    station_dir=$work/station
    [[ -z $exe ]] || cp "$exe" "$station_dir/quvelocap.exe"
    export WINEPREFIX=$work/prefix
fi
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe="
# The windows platform plugin: Wine hides the Unix QT_* variables anyway.
unset QT_QPA_PLATFORM WINEQT_QPA_PLATFORM
windows_path() { echo "Z:${1//\//\\}"; }
status=$work/status.txt
exported=$work/exported.jpeg
: >"$status"

step() { echo "e2e: $*"; }
fail() {
    echo "e2e: FAILED: $*" >&2
    if [[ -n ${DISPLAY:-} ]]; then
        import -window root "$work/failure.png" 2>/dev/null && echo "e2e: screen saved to $work/failure.png" >&2
    fi
    echo "e2e: status line captions:" >&2; sed 's/^/    /' "$status" >&2
    echo "e2e: station's stderr:" >&2; sed 's/^/    /' "$work/station.log" >&2 2>/dev/null || true
    exit 1
}
wait_until() {
    local what=$1; shift
    local deadline=$((SECONDS + timeout_s))
    until "$@"; do
        ((SECONDS < deadline)) || fail "timed out waiting for $what"
        sleep 0.1
    done
}

# --- the virtual display and the Wine prefix ---------------------------------------------
xvfb_pid= station_pid=
cleanup() {
    [[ -n $station_pid ]] && kill "$station_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_until "Xvfb to choose a display" test -s "$work/display"
export DISPLAY=:$(head -n1 "$work/display")
step "virtual display $DISPLAY"
if [[ -n $installed_prefix ]]; then
    :
elif [[ -f $template/.ready ]]; then
    cp -a "$template" "$WINEPREFIX"
else
    wineboot -i >/dev/null 2>&1
fi

# --- the station, as copied to a Windows PC or installed there ---------------------------
if [[ -n ${E2E_SHORTCUT:-} ]]; then
    # As a click on the shortcut starts it; start waits for the station and hands on
    # its exit status.
    launch=(wine start /wait /unix "$E2E_SHORTCUT")
else
    launch=(wine "$station_dir/quvelocap.exe" --demo)
fi
step "starting ${launch[*]:1}"
QUVELOCAP_STATUS_FILE=$(windows_path "$status") "${launch[@]}" >"$work/station.log" 2>&1 &
station_pid=$!

find_window() {
    window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) && [[ -n $window ]]
}
wait_until "the capture window" find_window '^QuveloCap - Capturar Foto'
main=$window
eval "$(xdotool getwindowgeometry --shell "$main")"
menu_h=$((HEIGHT - 629))
((WIDTH == 820 && menu_h > 0)) || fail "window is ${WIDTH}x${HEIGHT}, not 820 wide with a menu bar above 629"
step "capture window $main, ${WIDTH}x${HEIGHT} at $X,$Y, menu bar $menu_h px"
if [[ -n ${E2E_SHORTCUT:-} ]]; then
    # quvelocap.exe is a console program: started as Explorer starts it, the console
    # window Windows gives it must go, leaving the station alone on the screen.
    station_alone() { [[ -z $(xdotool search --onlyvisible --name . 2>/dev/null | grep -vx "$main") ]]; }
    wait_until "the station's window alone on the screen, no console beside it" station_alone
    step "no console window beside the station"
fi

rect() {
    local line
    line=$(grep -A1 "name=\"$1\"" "$ui" | grep -m1 '<rect>') || fail "no control $1 in $ui"
    sed -E 's#.*<x>([0-9]+)</x><y>([0-9]+)</y><width>([0-9]+)</width><height>([0-9]+)</height>.*#\1 \2 \3 \4#' <<<"$line"
}
at() {
    local r; read -r -a r <<<"$(rect "$1")"
    echo "$((r[0] + $2)) $((r[1] + menu_h + $3))"
}
click() {
    local r; read -r -a r <<<"$(rect "$1")"
    # shellcheck disable=SC2046
    xdotool mousemove --window "$main" $(at "$1" $((r[2] / 2)) $((r[3] / 2))) click 1
}
area_stat() {
    local r; read -r -a r <<<"$(rect "$1")"
    import -window "$main" -crop "$((r[2] - 8))x$((r[3] - 8))+$((r[0] + 4))+$((r[1] + menu_h + 4))" \
        +repage -format '%[fx:standard_deviation]' info: 2>/dev/null
}
area_shows_picture() { [[ $(area_stat "$1") != 0 ]]; }
part_shows_picture() {
    local r; read -r -a r <<<"$(rect "$1")"
    [[ $(import -window "$main" -crop "$4x$5+$((r[0] + $2))+$((r[1] + menu_h + $3))" +repage \
        -format '%[fx:standard_deviation]' info: 2>/dev/null) != 0 ]]
}
area_blank() { [[ $(area_stat "$1") == 0 ]]; }
area_checksum() {
    local r; read -r -a r <<<"$(rect "$1")"
    import -window "$main" -crop "${r[2]}x${r[3]}+${r[0]}+$((r[1] + menu_h))" +repage rgb:- \
        2>/dev/null | md5sum
}
area_still() {
    local a b
    a=$(area_checksum "$1"); sleep 0.3; b=$(area_checksum "$1")
    [[ $a == "$b" ]]
}
status_is() { [[ $(tail -n1 "$status" | tr -d '\r') == "$1" ]]; }
new_caption_after() { (($(wc -l <"$status") > $1)) && ! status_is "-"; }
station_gone() { ! kill -0 "$station_pid" 2>/dev/null; }

wait_until "the status line to be painted" status_is "-"
area_shows_picture ImagXpress2 && fail "the photo box shows a picture before any capture"

# --- choose the unit, type the enrolment number ------------------------------------------
step "unit: open the list, ${unit_presses} x Down, Return"
click cmbUnidade
for ((i = 0; i < unit_presses; i++)); do xdotool key Down; done
xdotool key Return
step "enrolment number: $student"
click txtMatricula
xdotool key ctrl+a
xdotool type --delay 20 "$student"

# --- preview, grab, crop -------------------------------------------------------------------
step "&Preview"
click cmdStart
wait_until "the test pattern in the preview" area_shows_picture picCapture
step "&Capturar"
click cmdSave
wait_until "the grabbed frame below the preview's reach" part_shows_picture ImagXpress1 4 410 392 60
wait_until "the preview to stop on the grabbed frame" area_still ImagXpress1

step "crop: drag from (${drag_from[*]}) to (${drag_to[*]}) in ImagXpress1"
# shellcheck disable=SC2046
xdotool mousemove --window "$main" $(at ImagXpress1 "${drag_from[@]}") mousedown 1
for f in 0.25 0.5 0.75 1; do
    x=$(awk -v a="${drag_from[0]}" -v b="${drag_to[0]}" -v f=$f 'BEGIN { printf "%d", a + (b - a) * f }')
    y=$(awk -v a="${drag_from[1]}" -v b="${drag_to[1]}" -v f=$f 'BEGIN { printf "%d", a + (b - a) * f }')
    # shellcheck disable=SC2046
    xdotool mousemove --window "$main" $(at ImagXpress1 "$x" "$y")
done
xdotool mouseup 1
wait_until "the cropped photo in ImagXpress2" area_shows_picture ImagXpress2

# --- store -----------------------------------------------------------------------------------
step "&Salvar Foto"
captions=$(wc -l <"$status")
click Command1
wait_until "a store outcome in the status line" new_caption_after "$captions"
status_is "Foto salva com sucesso" || fail "store reported: $(tail -n1 "$status")"

database=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/QuveloCap/demo.sqlite' | head -n1)
[[ -n $database ]] || fail "no demo database in the user's local application data"
stored=$work/stored.jpg
sqlite3 "$database" "SELECT writefile('$stored', foto) FROM Aca_FichaCadastralAluno
                     WHERE codigounidade = '$unit_code' AND matricula = '$student'" >/dev/null
[[ -s $stored ]] || fail "no photo stored for unit $unit_code, student $student"
size=$(identify -format '%m %wx%h' "$stored") || fail "the stored photo is not a picture"
[[ $size == "JPEG ${crop_w}x${crop_h}" ]] || fail "stored photo is '$size', expected 'JPEG ${crop_w}x${crop_h}'"
step "stored: $size, $(stat -c %s "$stored") bytes in ${database#"$WINEPREFIX/"}"

# --- read it back: the photo box is emptied first, the read fills it again -----------------
step "&Ver Foto for $student"
captions=$(wc -l <"$status")
click cmdVerFoto
wait_until "the read outcome in the status line" new_caption_after "$captions"
status_is "Foto lida com sucesso" || fail "read reported: $(tail -n1 "$status")"
area_shows_picture ImagXpress2 || fail "the photo read back is not shown"
# E2E_SCREENSHOT=FILE keeps the window as it looks now (README's picture).
if [[ -n ${E2E_SCREENSHOT:-} ]]; then
    import -window "$main" "$E2E_SCREENSHOT" && step "screenshot: $E2E_SCREENSHOT"
fi

# --- export through the system's save dialog ------------------------------------------------
step "&Salvar (export) to $(windows_path "$exported")"
click cmdSalvar
# Wine's save dialog has no title: it is the program's other visible window.
dialog_open() {
    window=$(xdotool search --onlyvisible --class 'quvelocap' 2>/dev/null | grep -vx "$main" | head -n1) &&
        [[ -n $window ]]
}
wait_until "the save dialog" dialog_open
step "save dialog $window"
xdotool type --delay 10 "$(windows_path "$exported")"
xdotool key Return
wait_until "the exported file" test -s "$exported"
size=$(identify -format '%m %wx%h' "$exported") || fail "the exported file is not a picture"
[[ $size == "JPEG ${crop_w}x${crop_h}" ]] || fail "exported '$size', expected 'JPEG ${crop_w}x${crop_h}'"
step "exported: $size"

# --- close -------------------------------------------------------------------------------------
step "&Fechar"
click cmdFechar
wait_until "the station to end" station_gone
wait "$station_pid" && rc=0 || rc=$?
station_pid=
((rc == 0)) || fail "the station ended with status $rc"
step "passed"
