#!/usr/bin/env bash
# A throw-away PostgreSQL 15 cluster for the database tests.
#
#   pg-test-server.sh start STATEFILE PORT DATABASE USER PASSWORD ODD_USER ODD_PASSWORD_PCT
#   pg-test-server.sh stop  STATEFILE
#
# start: initdb into a new folder under /tmp, listen on 127.0.0.1:PORT (and a socket in
# that folder), create DATABASE owned by USER, and a second login role ODD_USER whose
# password (given percent-encoded, so that ; { } = survive CMake and the shell) holds the
# characters a connection string must not trip over. STATEFILE remembers the folder.
# stop: stop the server and delete the folder. PostgreSQL refuses to run as root, so as
# root everything runs as the postgres system user.
set -euo pipefail

PGBIN=${PGBIN:-/usr/lib/postgresql/15/bin}

as_pg() {
    if [[ $(id -u) -eq 0 ]]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

stop_cluster() {
    local state=$1
    [[ -f $state ]] || return 0
    local dir
    dir=$(cat "$state")
    if [[ -n $dir && -d $dir ]]; then
        if [[ -f $dir/data/postmaster.pid ]]; then
            as_pg "$PGBIN/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
        fi
        rm -rf -- "$dir"
    fi
    rm -f -- "$state"
}

percent_decode() {
    local s=${1//+/ }
    printf '%b' "${s//%/\\x}"
}

case ${1:-} in
start)
    [[ $# -eq 8 ]] || { echo "usage: $0 start STATEFILE PORT DATABASE USER PASSWORD ODD_USER ODD_PASSWORD_PCT" >&2; exit 2; }
    state=$2 port=$3 database=$4 user=$5 password=$6 odd_user=$7
    odd_password=$(percent_decode "$8")
    stop_cluster "$state" # a run that was killed may have left one behind
    mkdir -p "$(dirname "$state")"
    dir=$(mktemp -d /tmp/qc-pgtest.XXXXXX)
    echo "$dir" >"$state"
    chmod 755 "$dir"
    if [[ $(id -u) -eq 0 ]]; then chown postgres: "$dir"; fi
    as_pg "$PGBIN/initdb" -D "$dir/data" -U postgres --auth-local=trust \
        --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
        || { cat "$dir/initdb.log" >&2; stop_cluster "$state"; exit 1; }
    if ! as_pg "$PGBIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off" -w start >/dev/null; then
        cat "$dir/server.log" >&2
        stop_cluster "$state"
        exit 1
    fi
    as_pg "$PGBIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U postgres -d postgres \
        -v user="$user" -v password="$password" -v odd_user="$odd_user" \
        -v odd_password="$odd_password" -v database="$database" -f - <<'SQL' \
        || { stop_cluster "$state"; exit 1; }
CREATE ROLE :"user" LOGIN PASSWORD :'password';
CREATE ROLE :"odd_user" LOGIN PASSWORD :'odd_password';
CREATE DATABASE :"database" OWNER :"user";
SQL
    echo "pg-test-server: listening on 127.0.0.1:$port, data in $dir"
    ;;
stop)
    [[ $# -eq 2 ]] || { echo "usage: $0 stop STATEFILE" >&2; exit 2; }
    stop_cluster "$2"
    echo "pg-test-server: stopped"
    ;;
*)
    echo "usage: $0 start|stop ..." >&2
    exit 2
    ;;
esac
