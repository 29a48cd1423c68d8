#!/bin/sh
# Builds Broadtext in Release for /usr in its own folder (build-package), makes the Debian package with
# cpack and installs it with apt, which also installs the libraries it depends on. With --no-install it
# stops after printing the package's path.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh dpkg-dev
# Debian's own compiler and linker flags (fortified functions, stack protector, read-only relocations).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBROADTEXT_TESTS=OFF -DBROADTEXT_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-package -j2
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls -t "$(pwd)"/build-package/broadtext_*.deb | head -n 1)
echo "$deb"
[ "${1:-}" = "--no-install" ] && exit 0
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --reinstall "$deb"
