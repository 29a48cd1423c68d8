#!/bin/sh
# Installs what is missing, checks the formatting, builds everything with warnings as errors and runs the
# whole test suite (headless). CI runs exactly this, so an unformatted file or a new warning fails it.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/format.sh --check
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DBROADTEXT_WERROR=ON >/dev/null
cmake --build build
# Six at a time on two cores: the long tests (real pseudo-terminals at modem speeds, real processes killed
# and restarted, a database server stopped for half a minute) mostly wait on real time rather than use a core.
cd build && ctest -j6 --output-on-failure --timeout 300 "$@"
