#!/bin/sh
# A throw-away PostgreSQL server for trying the program or a test by hand, set up as the tests' own
# (tests/support/PgCluster.h): a new cluster in a temporary folder, a Unix socket in that folder and no TCP,
# trust for local connections, fsync off. Never the machine's own cluster. As root, the server runs as the
# `postgres` account (or `nobody`), since PostgreSQL refuses to run as root.
#
#   eval "$(scripts/pg-test-cluster.sh start)"   prints PGHOST, PGPORT, PGUSER, PGDATABASE and BROADTEXT_PG_URI
#   scripts/pg-test-cluster.sh stop [FOLDER]      stops it at once and deletes the folder (default: $PGHOST)
set -eu
bin="${BROADTEXT_PG_BINDIR:-/usr/lib/postgresql/15/bin}"
port=5432
database=broadtext_test
marker=.broadtext-pg-test-cluster

if [ "$(id -u)" -eq 0 ]; then
    if id postgres >/dev/null 2>&1; then user=postgres; else user=nobody; fi
    as_server() { runuser -u "$user" -- "$@"; }
else
    user="$(id -un)"
    as_server() { "$@"; }
fi

usage() {
    echo "usage: $0 start | stop [FOLDER]" >&2
    exit 2
}

start() {
    [ -x "$bin/initdb" ] || { echo "$bin/initdb not found: run scripts/deps.sh" >&2; exit 1; }
    if [ -n "${BROADTEXT_PG_TMPDIR:-}" ]; then root="$BROADTEXT_PG_TMPDIR"
    elif [ -d /dev/shm ] && [ -w /dev/shm ]; then root=/dev/shm
    else root="${TMPDIR:-/tmp}"; fi
    dir="$(mktemp -d "$root/broadtext-pg-XXXXXX")"
    touch "$dir/$marker"
    [ "$(id -u)" -ne 0 ] || chown "$user" "$dir"
    as_server "$bin/initdb" -D "$dir/data" --auth=trust --encoding=UTF8 --locale=C --no-sync --no-instructions \
        --wal-segsize=1 -U "$user" >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$dir'
port = $port
fsync = off
full_page_writes = off
EOF
    as_server "$bin/pg_ctl" start -w -s -D "$dir/data" -l "$dir/server.log" >&2 ||
        { cat "$dir/server.log" >&2; exit 1; }
    "$bin/createdb" -h "$dir" -p "$port" -U "$user" "$database" >&2
    echo "export PGHOST='$dir' PGPORT=$port PGUSER='$user' PGDATABASE=$database"
    echo "export BROADTEXT_PG_URI='postgresql://$user@/$database?host=$(echo "$dir" | sed 's|/|%2F|g')&port=$port'"
    echo "# stop with: $0 stop '$dir'"
}

stop() {
    dir="${1:-${PGHOST:-}}"
    [ -n "$dir" ] || usage
    # Only a folder this script made is ever deleted, whatever was typed.
    [ -f "$dir/$marker" ] || { echo "$dir is not a test cluster made by $0" >&2; exit 1; }
    if [ -f "$dir/data/postmaster.pid" ]; then
        as_server "$bin/pg_ctl" stop -m immediate -w -s -D "$dir/data" >&2 || true
    fi
    rm -rf "$dir"
}

case "${1:-}" in
start) start ;;
stop) shift; stop "$@" ;;
*) usage ;;
esac
