#!/usr/bin/env bash
# Time of one server choice and one name check over all the TLDs of the
# registry data x 1,000 names (goal: negligible beside an exchange, which
# takes milliseconds), with the Release build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/bench/server-choice-bench ] || [ "${REBUILD:-1}" = 1 ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIREL_TESTS=OFF >/dev/null
    cmake --build build -j 2 --target server-choice-bench >/dev/null
fi
build/bench/server-choice-bench "$PWD/data" "${NAMES:-1000}"
