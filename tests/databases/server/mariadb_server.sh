#!/usr/bin/env bash
# Starts or stops the throw-away MariaDB server of the MariaDB tests.
#
#   mariadb_server.sh start DIR   makes a fresh data folder in /tmp with mariadb-install-db,
#                                 starts mariadbd on 127.0.0.1 with a free port (as the
#                                 mysql user when run as root), makes the user trundle
#                                 (password trundle-pw) and the database trundle; writes
#                                 the port to DIR/port and the server's folder to DIR/server
#   mariadb_server.sh stop DIR    stops the server, removes its folder and DIR
#
# Exits 77 (a skip) when the server's programs are not installed. Nothing is registered
# outside these folders: the tests reach the server through connection strings naming
# the driver's file.
set -euo pipefail
action=$1
dir=$2

mariadbd=$(command -v mariadbd || true)
[ -n "$mariadbd" ] || [ ! -x /usr/sbin/mariadbd ] || mariadbd=/usr/sbin/mariadbd
install_db=$(command -v mariadb-install-db || true)
client=$(command -v mariadb || true)

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u mysql -- "$@"
  else
    "$@"
  fi
}

stop() {
  if [ -f "$dir/server" ]; then
    server=$(cat "$dir/server")
    case $server in
      /tmp/trundle-mariadb-*)
        # The server's own number (runuser's child when run as root), else the starter's.
        pidfile=$server/mariadbd.pid
        [ -f "$pidfile" ] || pidfile=$server/pid
        if [ -f "$pidfile" ]; then
          pid=$(cat "$pidfile")
          if kill "$pid" 2>/dev/null; then
            for _ in $(seq 1 100); do
              kill -0 "$pid" 2>/dev/null || break
              sleep 0.1
            done
            kill -9 "$pid" 2>/dev/null || true
          fi
        fi
        rm -rf "$server"
        ;;
    esac
  fi
  rm -rf "$dir"
}

case $action in
  start)
    if [ -z "$mariadbd" ] || [ -z "$install_db" ] || [ -z "$client" ]; then
      echo "MariaDB server programs not found (run scripts/setup.sh): skipped" >&2
      exit 77
    fi
    stop
    mkdir -p "$dir"
    # A start that fails half-way leaves nothing running behind it.
    trap 'stop' ERR
    server=$(mktemp -d /tmp/trundle-mariadb-XXXXXX)
    echo "$server" >"$dir/server"
    [ "$(id -u)" -ne 0 ] || chown mysql "$server"
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    as_owner "$install_db" --no-defaults --datadir="$server/data" \
      --auth-root-authentication-method=normal --skip-test-db \
      >"$server/install.log" 2>&1 || { cat "$server/install.log" >&2; false; }
    # Standard input and output closed to the caller, so ctest does not wait on them.
    as_owner "$mariadbd" --no-defaults --datadir="$server/data" --skip-networking=0 \
      --bind-address=127.0.0.1 --port="$port" --socket="$server/socket" \
      --pid-file="$server/mariadbd.pid" --log-error="$server/server.log" \
      --character-set-server=utf8mb4 --collation-server=utf8mb4_bin \
      --innodb-flush-log-at-trx-commit=0 --innodb-buffer-pool-size=64M --skip-log-bin \
      </dev/null >/dev/null 2>&1 &
    echo $! >"$server/pid"
    for _ in $(seq 1 300); do
      [ -S "$server/socket" ] && "$client" --no-defaults --socket="$server/socket" -uroot \
        -e 'select 1' >/dev/null 2>&1 && break
      kill -0 "$(cat "$server/pid")" 2>/dev/null || break
      sleep 0.1
    done
    # root gets a password nobody knows: only trundle's account stays open on the port.
    "$client" --no-defaults --socket="$server/socket" -uroot -e "
      create database trundle character set utf8mb4 collate utf8mb4_bin;
      create user 'trundle'@'127.0.0.1' identified by 'trundle-pw';
      create user 'trundle'@'localhost' identified by 'trundle-pw';
      grant all on trundle.* to 'trundle'@'127.0.0.1';
      grant all on trundle.* to 'trundle'@'localhost';
      alter user 'root'@'localhost' identified by '$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')';" \
      || { cat "$server/server.log" >&2; false; }
    echo "$port" >"$dir/port"
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
