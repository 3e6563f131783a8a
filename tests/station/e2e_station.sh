#!/usr/bin/env bash
# The road of one photo, driven from outside on a virtual X display the way an operator
# drives it: real pointer and key events (xdotool) at the controls' designed places.
#
#   e2e_station.sh QUVELOCAP_BINARY UI_FILE WORK_FOLDER
#
# WORK_FOLDER is emptied and becomes HOME and the XDG folders, so the demo database is
# made afresh. The station reports what its status line shows through
# QUVELOCAP_STATUS_FILE (no OCR here); the stored photo is checked in the database.
set -euo pipefail

binary=$1 ui=$2 work=$3
timeout_s=${E2E_TIMEOUT:-30}

# Unit "4444" has a four-character code: storing to it only works when the whole code
# is used. Its students 4401 and 4402 start without photos.
unit_presses=3  # the fourth entry of the unit list: 4444
unit_code=4444
student=4401
other_student=4402
# The drag in ImagXpress1, in the control's pixels, at zoom 100% on a 640 x 480 frame.
drag_from=(40 60)
drag_to=(300 380)
crop_w=$((drag_to[0] - drag_from[0]))
crop_h=$((drag_to[1] - drag_from[1]))

for tool in Xvfb xdotool import identify sqlite3; do
    command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (bash scripts/install-deps.sh)" >&2; exit 1; }
done

rm -rf -- "$work"
mkdir -p "$work"/{home,config,data,cache,runtime}
chmod 700 "$work/runtime"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
unset QT_QPA_PLATFORM SESSION_MANAGER
# Window titles with accents ("Configurações") are only found in a UTF-8 locale.
export LC_ALL=C.UTF-8
status=$work/status.txt
database=$XDG_DATA_HOME/QuveloCap/QuveloCap/demo.sqlite
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

# wait_until DESCRIPTION COMMAND...: polls the condition until it holds or time runs out.
wait_until() {
    local what=$1; shift
    local deadline=$((SECONDS + timeout_s))
    until "$@"; do
        ((SECONDS < deadline)) || fail "timed out waiting for $what"
        sleep 0.1
    done
}

# --- the virtual display --------------------------------------------------------------
xvfb_pid= station_pid=
cleanup() {
    [[ -n $station_pid ]] && kill "$station_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_until "Xvfb to choose a display" test -s "$work/display"
export DISPLAY=:$(head -n1 "$work/display")
step "virtual display $DISPLAY"

# --- the station -----------------------------------------------------------------------
QUVELOCAP_STATUS_FILE=$status "$binary" --demo >"$work/station.log" 2>&1 &
station_pid=$!

find_window() {
    window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) && [[ -n $window ]]
}
wait_until "the capture window" find_window '^QuveloCap - Capturar Foto'
main=$window
eval "$(xdotool getwindowgeometry --shell "$main")"
# The designed client area is 820 x 629; the menu bar sits above it.
menu_h=$((HEIGHT - 629))
((WIDTH == 820 && menu_h > 0)) || fail "window is ${WIDTH}x${HEIGHT}, not 820 wide with a menu bar above 629"
step "capture window $main, ${WIDTH}x${HEIGHT} at $X,$Y, menu bar $menu_h px"

# rect NAME: x y w h of a control from the window's design file, in client pixels.
rect() {
    local line
    line=$(grep -A1 "name=\"$1\"" "$ui" | grep -m1 '<rect>') || fail "no control $1 in $ui"
    sed -E 's#.*<x>([0-9]+)</x><y>([0-9]+)</y><width>([0-9]+)</width><height>([0-9]+)</height>.*#\1 \2 \3 \4#' <<<"$line"
}
# at NAME DX DY: window coordinates of a point inside a control (DX, DY from its corner).
at() {
    local r; read -r -a r <<<"$(rect "$1")"
    echo "$((r[0] + $2)) $((r[1] + menu_h + $3))"
}
# click NAME: a left click in the middle of a control.
click() {
    local r; read -r -a r <<<"$(rect "$1")"
    # shellcheck disable=SC2046
    xdotool mousemove --window "$main" $(at "$1" $((r[2] / 2)) $((r[3] / 2))) click 1
}
# area_stat NAME: the standard deviation of the control's pixels on screen (0: one colour).
area_stat() {
    local r; read -r -a r <<<"$(rect "$1")"
    # Inside the control's frame, which is drawn in other colours than the background.
    import -window "$main" -crop "$((r[2] - 8))x$((r[3] - 8))+$((r[0] + 4))+$((r[1] + menu_h + 4))" \
        +repage -format '%[fx:standard_deviation]' info: 2>/dev/null
}
area_shows_picture() { [[ $(area_stat "$1") != 0 ]]; }
# part_shows_picture NAME X Y W H: the same for a part of the control.
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
status_is() { [[ $(tail -n1 "$status") == "$1" ]]; }
station_gone() { ! kill -0 "$station_pid" 2>/dev/null; }

wait_until "the status line to be painted" status_is "-"
area_shows_picture ImagXpress2 && fail "the photo box shows a picture before any capture"

# --- choose the unit, type the enrolment number ----------------------------------------
step "unit: open the list, ${unit_presses} x Down, Return"
click cmbUnidade
for ((i = 0; i < unit_presses; i++)); do xdotool key Down; done
xdotool key Return
step "enrolment number: $student"
click txtMatricula
xdotool key ctrl+a
xdotool type --delay 20 "$student"

# --- preview, grab, crop -----------------------------------------------------------------
step "&Preview"
click cmdStart
wait_until "the test pattern in the preview" area_shows_picture picCapture
step "&Capturar"
click cmdSave
# The 400-pixel preview never reaches the lower part of the box; the grabbed 640 x 480
# frame in the image control does, and it stands still.
wait_until "the grabbed frame below the preview's reach" part_shows_picture ImagXpress1 4 410 392 60
wait_until "the preview to stop on the grabbed frame" area_still ImagXpress1
area_shows_picture ImagXpress1 || fail "no grabbed frame in ImagXpress1"

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

# --- store -----------------------------------------------------------------------------
step "&Salvar Foto"
# The grab may have left a caption of its own (no face in the test pattern): the outcome
# is the first caption after the click.
captions=$(wc -l <"$status")
click Command1
wait_until "a store outcome in the status line" \
    bash -c '(($(wc -l <"$1") > $2)) && [[ $(tail -n1 "$1") != "-" ]]' _ "$status" "$captions"
status_is "Foto salva com sucesso" || fail "store reported: $(tail -n1 "$status")"
# E2E_SCREENSHOT=FILE keeps the window as it looks after the store (README's picture).
if [[ -n ${E2E_SCREENSHOT:-} ]]; then
    import -window "$main" "$E2E_SCREENSHOT" && step "screenshot: $E2E_SCREENSHOT"
fi

stored=$work/stored.jpg
sqlite3 "$database" "SELECT writefile('$stored', foto) FROM Aca_FichaCadastralAluno
                     WHERE codigounidade = '$unit_code' AND matricula = '$student'" >/dev/null
[[ -s $stored ]] || fail "no photo stored for unit $unit_code, student $student"
size=$(identify -format '%m %wx%h' "$stored") || fail "the stored photo is not a picture"
[[ $size == "JPEG ${crop_w}x${crop_h}" ]] || fail "stored photo is '$size', expected 'JPEG ${crop_w}x${crop_h}'"
others=$(sqlite3 "$database" "SELECT count(*) FROM Aca_FichaCadastralAluno WHERE foto IS NOT NULL")
[[ $others == 1 ]] || fail "$others students have a photo after one store"
step "stored: $size, $(stat -c %s "$stored") bytes"

# The work file is the station's own, in the user's runtime folder, and gone after the
# store: nothing is left there, nor next to the program.
program_dir=$(dirname "$(readlink -f "$binary")")
left=$(find "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME" "$program_dir" -maxdepth 3 -name '*pictemp*' 2>/dev/null)
[[ -z $left ]] || fail "work files left after the store: $left"
step "no work file left"

# --- read back another student, who has no photo ------------------------------------------
step "&Ver Foto for $other_student"
click txtMatricula
xdotool key ctrl+a
xdotool type --delay 20 "$other_student"
click cmdVerFoto
wait_until "the read outcome in the status line" status_is "Sem foto cadastrada"
wait_until "the photo box to be cleared" area_blank ImagXpress2

# --- the settings dialog from the menu --------------------------------------------------
step "Arquivo > Configuração"
xdotool mousemove --window "$main" 25 $((menu_h / 2)) click 1
xdotool key Down Return
wait_until "the settings dialog" find_window '^Configurações$'
step "settings dialog $window"

# --- close -------------------------------------------------------------------------------
step "&Fechar"
click cmdFechar
wait_until "the station to end" station_gone
wait "$station_pid" && rc=0 || rc=$?
station_pid=
((rc == 0)) || fail "the station ended with status $rc"
step "passed"
