#!/usr/bin/env bash
# Starts or stops the throw-away PostgreSQL server of the server tests.
#
#   pg_server.sh start DIR   initdb in a fresh temporary folder as a non-root user, start
#                            on 127.0.0.1 with a free port, make the role trundle
#                            (password trundle-pw) and the database trundle; writes the
#                            port to DIR/port and the cluster's folder to DIR/cluster
#   pg_server.sh stop DIR    stops the server, removes its folder and DIR
#
# Nothing is registered outside these folders: the tests reach the server through
# connection strings naming the driver's file.
set -euo pipefail
action=$1
dir=$2

bindir=""
for d in /usr/lib/postgresql/15/bin /usr/lib/postgresql/*/bin; do
  if [ -x "$d/initdb" ]; then bindir=$d; break; fi
done

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

case $action in
  start)
    [ -n "$bindir" ] || { echo "PostgreSQL server programs not found (run scripts/setup.sh)" >&2; exit 1; }
    "$0" stop "$dir"
    mkdir -p "$dir"
    # The cluster lives where its owner can reach it whatever the build folder's modes.
    cluster=$(mktemp -d /tmp/trundle-pg-XXXXXX)
    echo "$cluster" >"$dir/cluster"
    echo postgres-pw >"$cluster/pw"
    [ "$(id -u)" -ne 0 ] || chown -R postgres "$cluster"
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    as_owner "$bindir/initdb" --no-sync -A scram-sha-256 -U postgres --pwfile="$cluster/pw" \
      -E UTF8 --locale=C -D "$cluster/data" >"$cluster/initdb.log" 2>&1 \
      || { cat "$cluster/initdb.log" >&2; exit 1; }
    as_owner "$bindir/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -t 30 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $cluster -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
      start >/dev/null || { cat "$cluster/server.log" >&2; exit 1; }
    PGPASSWORD=postgres-pw "$bindir/psql" -q -h 127.0.0.1 -p "$port" -U postgres -d postgres \
      -v ON_ERROR_STOP=1 \
      -c "create role trundle login password 'trundle-pw'" \
      -c "create database trundle owner trundle encoding 'UTF8'" >/dev/null
    echo "$port" >"$dir/port"
    ;;
  stop)
    if [ -f "$dir/cluster" ]; then
      cluster=$(cat "$dir/cluster")
      case $cluster in
        /tmp/trundle-pg-*)
          if [ -n "$bindir" ] && [ -f "$cluster/data/postmaster.pid" ]; then
            as_owner "$bindir/pg_ctl" -D "$cluster/data" -m immediate -w stop >/dev/null 2>&1 || true
          fi
          rm -rf "$cluster"
          ;;
      esac
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
