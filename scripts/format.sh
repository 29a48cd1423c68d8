#!/bin/sh
# Formats every tracked C++ file with the repository's .clang-format; with --check it changes nothing and
# fails, naming each file and line, when a file is not formatted.
set -eu
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--check" ]; then
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
else
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i
fi
