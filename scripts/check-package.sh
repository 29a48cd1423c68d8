#!/bin/sh
# Checks the Debian package that scripts/package.sh made: shows its control data and files and runs lintian
# (failing on an error). With --chroot it also installs the package with apt in a fresh minimal Debian 12
# made by debootstrap (build-chroot/, reused on later runs) and starts the program there headless: it must
# still be running after a few seconds and have created its database.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh dpkg-dev lintian
deb=$(ls -t "$(pwd)"/build-package/broadtext_*.deb | head -n 1)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
lintian --info --fail-on error "$deb"
[ "${1:-}" = "--chroot" ] || exit 0

scripts/deps.sh debootstrap
root="$(pwd)/build-chroot/bookworm"
[ -x "$root/usr/bin/apt-get" ] || debootstrap --variant=minbase bookworm "$root"
cp "$deb" "$root/tmp/broadtext.deb"
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
trap 'umount "$root/proc"' EXIT
chroot "$root" apt-get update -qq
chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/broadtext.deb
chroot "$root" sh -c '
    set -e
    export HOME=/tmp/home XDG_DATA_HOME=/tmp/home/data QT_QPA_PLATFORM=offscreen
    rm -rf "$HOME" && mkdir -p "$HOME"
    broadtext >/tmp/broadtext.log 2>&1 &
    pid=$!
    sleep 5
    alive=no
    kill -0 $pid 2>/dev/null && alive=yes && kill $pid
    wait $pid || true
    echo "--- output of broadtext"; cat /tmp/broadtext.log
    echo "--- still running after 5 s: $alive"; ls -l "$XDG_DATA_HOME/broadtext/Broadtext.db"
    [ $alive = yes ]
    broadtext-modemsim --help >/dev/null 2>&1 || [ $? -eq 2 ]
    echo "The package installs and the program starts."
'
