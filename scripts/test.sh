#!/bin/sh
# Installs what is missing, builds everything and runs the whole test suite (headless).
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
cd build && ctest --output-on-failure --timeout 300 "$@"
