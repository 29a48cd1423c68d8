#!/bin/sh
# Installs what is missing, builds Broadtext in Release and starts it.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target broadtext broadtext-modemsim
exec build/app/broadtext "$@"
