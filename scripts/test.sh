#!/usr/bin/env bash
# Runs every test: the normal build, then the address and undefined-behaviour sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --build --preset default
ctest --preset default

cmake --preset asan >/dev/null
cmake --build --preset asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan
