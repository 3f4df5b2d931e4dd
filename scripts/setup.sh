#!/usr/bin/env bash
# Installs what building and testing need, from Debian 12's packages.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libsqlite3-dev sqlite3 zlib1g-dev libxxhash-dev
  libgtest-dev
  # Readers we did not write, that the tests check our files with.
  gdal-bin python3-gdal python3-dbfread pxlib-dev
  mdbtools
  # The locales the round-trip tests run under.
  locales
  # The window: Qt 6 Widgets, a font, and a display server for its screenshots.
  qt6-base-dev fonts-dejavu-core xvfb xauth
  # Its walks over the accessibility bus (scripts/desktop_walk*.py, ctest -L desktop).
  openbox dbus-daemon dbus-bin at-spi2-core python3-pyatspi gir1.2-atspi-2.0 imagemagick
  # Server databases through ODBC, and the servers the tests start.
  unixodbc unixodbc-dev odbc-postgresql libsqliteodbc postgresql-15 postgresql
  odbc-mariadb mariadb-server
  # PostgreSQL natively, through its client library.
  libpq-dev
  # The Debian package (cpack -G DEB) and the checkers of what it holds.
  dpkg-dev appstream desktop-file-utils bash-completion groff-base man-db python3-debian
  # The benchmarks' peers and timer.
  miller time bc
)
# Node.js runs the npm witness below. A machine may already have it from elsewhere, with npm
# inside it, and Debian's npm package would then conflict: ask apt only when node is missing.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# The Access tests' second witness, npm's mdb-reader, pinned in tests/oracles.
if [ ! -d "$(dirname "$0")/../tests/oracles/node_modules/mdb-reader" ]; then
  npm ci --prefix "$(dirname "$0")/../tests/oracles" --no-audit --no-fund -q
fi
# Dates and numbers are written and read in the user's locale; the tests run under these.
need_locales=()
for l in en_US.UTF-8 de_DE.UTF-8; do
  locale -a 2>/dev/null | grep -qix "${l/UTF-8/utf8}" || need_locales+=("$l")
done
if [ ${#need_locales[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  for l in "${need_locales[@]}"; do
    grep -q "^$l UTF-8" /etc/locale.gen || echo "$l UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
  done
  $sudo locale-gen
fi
