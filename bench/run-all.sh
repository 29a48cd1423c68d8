#!/bin/sh
# Builds in Release and runs every benchmark, printing their figures.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
for b in build/bench/*_bench; do
    echo "== $(basename "$b")"
    QT_QPA_PLATFORM=offscreen "$b"
done
