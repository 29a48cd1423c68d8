#!/bin/sh
# Regenerates the screenshots in docs/screenshots/: builds the screenshot program and runs it headless (Qt's
# offscreen platform, no display needed) on a temporary data folder with the modem simulator. Each picture
# is a 1024 x 768 screen. The wizard's Access and Excel steps read the test fixtures.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target broadtext-screenshots broadtext-reader
mkdir -p docs/screenshots
# A fixed locale, so that dates look the same on every machine.
QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 build/app/broadtext-screenshots docs/screenshots tests/data/wizard
