#!/bin/sh
# Installs the Debian packages Broadtext needs to build and test, only those that are missing; packages
# named as arguments are added to the list (scripts/package.sh asks for its packaging tools that way).
# The QPSQL driver and libpq-dev reach a shared PostgreSQL message base; postgresql serves the tests' throw-away
# clusters (tests/support/PgCluster.h). The machine's own cluster that Debian sets up with the package is never
# used, and this script neither starts nor enables it.
set -eu
packages="build-essential cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev qt6-multimedia-dev
qt6-httpserver-dev qt6-websockets-dev libqt6sql6-sqlite mdbtools-dev libfreexl-dev libglib2.0-dev libzip-dev clang-format
postgresql libqt6sql6-psql libpq-dev $*"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
