#!/bin/sh
# Formats every C++ file of the project with the repository's .clang-format.
set -eu
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' | xargs clang-format -i
