#!/usr/bin/env bash
# The main window with 1,000,000 candidates and a batch paced at 2,000
# results a second against in-process fake WHOIS servers (no latency; the
# names are spread over four suffixes, each routed to a server of its own,
# since one server is asked at most 1,000 times a second), on the offscreen
# platform, for 30 s: the event loop's longest stall (goal: at most 100 ms)
# and the peak memory (goal: at most 400 MB), with the Release build in
# build/ (or $TAVIREL_BENCH_BUILD). Arguments go to the program:
# CANDIDATES SECONDS RATE THREADS [zone] (zone: a zone file delegates every
# name, and the batch is decided by it without a query).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${TAVIREL_BENCH_BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIREL_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target window-scale-bench >/dev/null
QT_QPA_PLATFORM=offscreen "$BUILD/bench/window-scale-bench" "$@"
