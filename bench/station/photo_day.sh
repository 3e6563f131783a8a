#!/usr/bin/env bash
# A photo day on the real program: 30 students of one unit photographed one after another,
# driven on a virtual X display with real key and pointer events (xdotool), the folder
# camera showing the test portraits, on SQLite and on a PostgreSQL test cluster.
#
#   photo_day.sh QUVELOCAP_BINARY [WORK_FOLDER]
#
# Two flows, interleaved per engine, each on a fresh database and settings:
#   design: click "Matricula", select its text, type the number, "&Preview", "&Capturar",
#           a drag over the frame, "&Salvar Foto" (the window as designed);
#   ours:   the students panel shown: the first student typed with Enter, then for every
#           student Alt+C and Alt+S (the face framing proposes the crop; when it cannot,
#           a drag is added and counted).
# Every action sent is counted; each student's store is awaited on the status line
# (QUVELOCAP_STATUS_FILE) and checked in the database. The station's own UI-thread time
# and its longest stall come from QUVELOCAP_UI_PROBE (the probe's busy time includes
# painting the live preview, which runs while the operator looks). PHOTO_DAY_SCREENSHOT=PNG
# saves the window with the panel at the end of the SQLite run. Prints:
#   ratio photo_day_actions X           actions per student, ours / design
#   ratio photo_day_station_time X      UI-thread busy time per student, ours / design
#   photo_day_actions_per_student FLOW ENGINE X
#   photo_day_station_ms_per_student FLOW ENGINE X
#   photo_day_longest_stall_ms FLOW ENGINE X
#   photo_day_longest_own_stall_ms FLOW ENGINE X   the same less the database's own waits
#   photo_day_start_ms FLOW ENGINE X    the start-up (window made, loaded and shown), which
#                                       the stalls and the busy time leave out
set -euo pipefail

binary=$(readlink -f "$1")
work=${2:-$(mktemp -d /tmp/photo-day.XXXXXX)}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
ui=$root/src/shell/frmImageCapture.ui
students=${PHOTO_DAY_STUDENTS:-30}
timeout_s=${PHOTO_DAY_TIMEOUT:-30}
pg_port=${PHOTO_DAY_PG_PORT:-49731}
unit=01

for tool in Xvfb xdotool sqlite3 psql; do
    command -v "$tool" >/dev/null || { echo "photo_day: $tool is missing" >&2; exit 1; }
done
rm -rf -- "$work"
mkdir -p "$work"
export LC_ALL=C.UTF-8
unset QT_QPA_PLATFORM SESSION_MANAGER

fail() { echo "photo_day: FAILED: $*" >&2; exit 1; }
wait_until() {
    local what=$1; shift
    local deadline=$((SECONDS + timeout_s))
    until "$@"; do
        ((SECONDS < deadline)) || fail "timed out waiting for $what"
        sleep 0.02
    done
}

xvfb_pid= station_pid= pg_state=$work/pg.state
cleanup() {
    [[ -n $station_pid ]] && kill "$station_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    "$root/scripts/pg-test-server.sh" stop "$pg_state" >/dev/null 2>&1 || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

# A display number of its own, away from the low ones that other runs take first.
display=${PHOTO_DAY_DISPLAY:-140}
while [[ -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_until "Xvfb" test -S "/tmp/.X11-unix/X$display"
export DISPLAY=:$display
xvfb_alive() { kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended: $(cat "$work/xvfb.log")"; }

"$root/scripts/pg-test-server.sh" start "$pg_state" "$pg_port" qcday qc_day qc-day-pw qc_day_odd \
    x >"$work/pg.log" 2>&1 || fail "PostgreSQL test cluster: $(cat "$work/pg.log")"

# The camera folder: the portraits only, so that every grab shows a face.
mkdir -p "$work/camera"
cp "$root"/tests/data/portrait-*.jpg "$work/camera/"

enrolment() { printf '2026%03d' "$1"; }
schema_sql() {
    local blob=$1
    echo "DROP TABLE IF EXISTS bas_unidades; DROP TABLE IF EXISTS Aca_FichaCadastralAluno;"
    echo "CREATE TABLE bas_unidades (codigounidade varchar(10), RazaoSocial varchar(100));"
    echo "CREATE TABLE Aca_FichaCadastralAluno (codigounidade varchar(10), matricula varchar(20), foto $blob);"
    echo "INSERT INTO bas_unidades VALUES ('$unit', 'Escola do Dia da Foto');"
    for ((i = 1; i <= students; i++)); do
        echo "INSERT INTO Aca_FichaCadastralAluno VALUES ('$unit', '$(enrolment "$i")', NULL);"
    done
}
psql_day() { PGPASSWORD=qc-day-pw psql -qtA -h 127.0.0.1 -p "$pg_port" -U qc_day qcday "$@"; }
prepare_db() { # ENGINE -> srv setting
    if [[ $1 == sqlite ]]; then
        rm -f "$work/school.sqlite"
        schema_sql BLOB | sqlite3 "$work/school.sqlite"
        srv="sqlite:$work/school.sqlite" db= us= pw=
    else
        schema_sql bytea | psql_day >/dev/null
        srv="postgresql://127.0.0.1:$pg_port" db=qcday us=qc_day pw=qc-day-pw
    fi
}
stored_count() { # ENGINE
    local sql="SELECT COUNT(*) FROM Aca_FichaCadastralAluno WHERE foto IS NOT NULL"
    if [[ $1 == sqlite ]]; then sqlite3 "$work/school.sqlite" "$sql"; else psql_day -c "$sql"; fi
}

# --- driving the window ----------------------------------------------------------------
rect() {
    grep -A1 "name=\"$1\"" "$ui" | grep -m1 '<rect>' |
        sed -E 's#.*<x>([0-9]+)</x><y>([0-9]+)</y><width>([0-9]+)</width><height>([0-9]+)</height>.*#\1 \2 \3 \4#'
}
at() { local r; read -r -a r <<<"$(rect "$1")"; echo "$((r[0] + $2)) $((r[1] + menu_h + $3))"; }
click() {
    local r; read -r -a r <<<"$(rect "$1")"
    # shellcheck disable=SC2046
    xdotool mousemove --window "$main" $(at "$1" $((r[2] / 2)) $((r[3] / 2))) click 1
    actions=$((actions + 1))
}
key() { xdotool key "$1"; actions=$((actions + 1)); }
type_text() { xdotool type --delay 5 "$1"; actions=$((actions + ${#1})); }
drag() {
    # shellcheck disable=SC2046
    xdotool mousemove --window "$main" $(at ImagXpress1 60 40) mousedown 1
    # shellcheck disable=SC2046
    xdotool mousemove --window "$main" $(at ImagXpress1 200 200)
    # shellcheck disable=SC2046
    xdotool mousemove --window "$main" $(at ImagXpress1 330 400) mouseup 1
    actions=$((actions + 1))
}
saved_lines() { grep -c '^Foto salva com sucesso$' "$status" || true; }
saved_more_than() { (($(saved_lines) > $1)); }
last_status() { tail -n1 "$status"; }

run_flow() { # FLOW ENGINE
    local flow=$1 engine=$2 home=$work/$1-$2
    xvfb_alive
    mkdir -p "$home"/{config/QuveloCap,data,cache,runtime}
    chmod 700 "$home/runtime"
    prepare_db "$engine"
    {
        echo "[Config]"
        echo "srv=$srv"; echo "db=$db"; echo "us=$us"; echo "pw=$pw"
        [[ $flow == ours ]] && echo "alunos=1"
    } >"$home/config/QuveloCap/QuveloCap.conf"
    status=$home/status.txt probe=$home/probe.txt
    : >"$status"
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache \
        XDG_RUNTIME_DIR=$home/runtime QUVELOCAP_STATUS_FILE=$status QUVELOCAP_UI_PROBE=$probe \
        "$binary" --camera-file "$work/camera" >"$home/station.log" 2>&1 &
    station_pid=$!
    find_window() {
        main=$(xdotool search --onlyvisible --name '^QuveloCap - Capturar Foto' 2>/dev/null | head -n1) &&
            [[ -n $main ]]
    }
    wait_until "the capture window" find_window
    eval "$(xdotool getwindowgeometry --shell "$main")"
    menu_h=$((HEIGHT - 629))
    wait_until "the status line" test -s "$status"
    sleep 1 # start-up done; the count begins with the first student
    actions=0
    local drags=0 i
    for ((i = 1; i <= students; i++)); do
        local before; before=$(saved_lines)
        if [[ $flow == design ]]; then
            click txtMatricula
            key ctrl+a
            type_text "$(enrolment "$i")"
            click cmdStart
            sleep 0.3 # the operator looks at the student in the preview
            click cmdSave
            sleep 0.2
            drag
            click Command1
        else
            if ((i == 1)); then
                click txtMatricula
                type_text "$(enrolment "$i")"
                key Return
            fi
            sleep 0.3
            key alt+c
            sleep 0.4 # the proposal, or the operator's drag when there is none
            key alt+s
        fi
        if ! wait_until_quiet saved_more_than "$before"; then
            # No face proposed: the operator drags, then stores again.
            drag; drags=$((drags + 1))
            key alt+s
            wait_until "student $i stored" saved_more_than "$before"
        fi
    done
    sleep 0.5
    local stored; stored=$(stored_count "$engine")
    ((stored == students)) || fail "$flow/$engine: $stored of $students photos stored"
    if [[ $flow == ours && $engine == sqlite && -n ${PHOTO_DAY_SCREENSHOT:-} ]]; then
        import -window "$main" "$PHOTO_DAY_SCREENSHOT"
    fi
    read -r _ max_gap _ busy _ _ _ own_gap _ start <"$probe"
    kill "$station_pid"; wait "$station_pid" 2>/dev/null || true; station_pid=
    per_student=$(awk -v a="$actions" -v n="$students" 'BEGIN { printf "%.2f", a / n }')
    busy_per=$(awk -v b="$busy" -v n="$students" 'BEGIN { printf "%.1f", b / n }')
    echo "photo_day_actions_per_student $flow $engine $per_student"
    echo "photo_day_station_ms_per_student $flow $engine $busy_per"
    echo "photo_day_longest_stall_ms $flow $engine $max_gap"
    echo "photo_day_longest_own_stall_ms $flow $engine $own_gap"
    echo "photo_day_start_ms $flow $engine $start"
    ((drags == 0)) || echo "photo_day_drags $flow $engine $drags"
    eval "result_${flow}_${engine}_actions=$per_student result_${flow}_${engine}_busy=$busy_per"
}
# Waits briefly (a store answers within seconds); false instead of failing.
wait_until_quiet() {
    local deadline=$((SECONDS + 15))
    until "$@"; do ((SECONDS < deadline)) || return 1; sleep 0.02; done
}

# A unit of 10,000 students: the station started with the panel hidden and with it shown,
# its start-up, and the longest UI-thread stall from the first paint until the list is all
# read (the panel's pages come in one per turn of the event loop).
big_unit() { # ENGINE
    local sql="INSERT INTO Aca_FichaCadastralAluno SELECT '$unit', '9' || substr('0000' || n, -5, 5), NULL FROM"
    if [[ $1 == sqlite ]]; then
        sqlite3 "$work/school.sqlite" "WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 10000) $sql s;"
    else
        psql_day -c "INSERT INTO Aca_FichaCadastralAluno SELECT '$unit', '9' || lpad(n::text, 5, '0'), NULL FROM generate_series(1, 10000) AS n" >/dev/null
    fi
}
big_start() { # PANEL ENGINE -> longest stall and start-up in ms
    local shown=$1 engine=$2 home=$work/big-$1-$2
    xvfb_alive
    mkdir -p "$home"/{config/QuveloCap,data,cache,runtime}
    chmod 700 "$home/runtime"
    printf '[Config]\nsrv=%s\ndb=%s\nus=%s\npw=%s\nalunos=%s\n' "$srv" "$db" "$us" "$pw" "$shown" \
        >"$home/config/QuveloCap/QuveloCap.conf"
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache \
        XDG_RUNTIME_DIR=$home/runtime QUVELOCAP_UI_PROBE=$home/probe.txt \
        "$binary" --camera-file "$work/camera" >"$home/station.log" 2>&1 &
    station_pid=$!
    wait_until "the probe of the big unit's station" test -s "$home/probe.txt"
    sleep 4 # 10,000 students are 40 pages
    read -r _ max_gap _ _ _ _ _ _ _ start <"$home/probe.txt"
    kill "$station_pid"; wait "$station_pid" 2>/dev/null || true; station_pid=
    echo "$max_gap $start"
}

for engine in sqlite postgresql; do
    for flow in design ours; do
        run_flow "$flow" "$engine"
    done
    prepare_db "$engine"
    big_unit "$engine"
    read -r hidden hidden_start <<<"$(big_start 0 "$engine")"
    read -r shown shown_start <<<"$(big_start 1 "$engine")"
    echo "photo_day_10000_students_longest_stall_ms $engine hidden $hidden shown $shown"
    echo "photo_day_10000_students_start_ms $engine hidden $hidden_start shown $shown_start"
    awk -v s="$shown" -v h="$hidden" -v e="$engine" \
        'BEGIN { printf "ratio photo_day_10000_students_stall_%s %.3f\n", e, s / h }'
done
awk -v od="${result_ours_sqlite_actions}" -v op="${result_ours_postgresql_actions}" \
    -v dd="${result_design_sqlite_actions}" -v dp="${result_design_postgresql_actions}" \
    'BEGIN { printf "ratio photo_day_actions %.3f\n", (od + op) / (dd + dp) }'
awk -v od="${result_ours_sqlite_busy}" -v op="${result_ours_postgresql_busy}" \
    -v dd="${result_design_sqlite_busy}" -v dp="${result_design_postgresql_busy}" \
    'BEGIN { printf "ratio photo_day_station_time %.3f\n", (od + op) / (dd + dp) }'
