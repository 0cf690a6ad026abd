#!/usr/bin/env bash
# A generated .com zone of N delegated names (default 10,000,000) as
# registries publish it (one record a line, gzip):
#  (a) `zone FILE` builds its index: the seconds and the peak resident size
#      (goal: at most 60 s and 500 MB);
#  (b) `zone FILE` again: the index is reused (its time);
#  (c) lookups from the index: a million held names and a million others
#      (goal: at least 1,000,000 lookups a second);
#  (d) a batch of M names (default 1,000,000) all delegated in the zone,
#      decided by it without a query: the seconds of `check --zone`
#      (goal: at most 5 s), with no server to ask at all.
# Builds Release into build/ (or $TAVIREL_BENCH_BUILD) first.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${TAVIREL_BENCH_BUILD:-build}
NAMES=${TAVIREL_BENCH_ZONE_NAMES:-10000000}
BATCH=${TAVIREL_BENCH_BATCH:-1000000}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIREL_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target tavirelbrisvane-cli zone-lookup-bench >/dev/null
CLI=$BUILD/app/tavirelbrisvane-cli
command -v /usr/bin/time >/dev/null || { echo "zone_bench: needs /usr/bin/time (Debian package time)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state
# Nothing of the batch may leave the machine: every server is a closed port.
export TAVIREL_WHOIS_SERVER=127.0.0.1:9 TAVIREL_DNS_SERVER=127.0.0.1:9

awk -v n="$NAMES" 'BEGIN {
    printf "com.\t900\tin\tsoa\ta.gtld-servers.net. nstld.verisign-grs.com. 2026120900 1800 900 604800 86400\n";
    for (i = 0; i < n; i++) printf "name%d.com.\t172800\tin\tns\tns1.host%d.net.\n", i, i % 1000;
}' | gzip -1 >"$work/com.zone.gz"
echo "zone file: $NAMES names, $(du -m "$work/com.zone.gz" | cut -f1) MB gzip"

# timed LABEL COMMAND...: the command's wall seconds and peak resident MB.
timed() {
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err" || true
    read -r seconds kib <"$work/time"
    echo "$label: ${seconds} s, $((kib / 1024)) MB resident"
    sed 's/^/    /' "$work/out" | head -3
}

timed "(a) index built" "$CLI" zone "$work/com.zone.gz"
timed "(b) index reused" "$CLI" zone "$work/com.zone.gz"
echo "(c) $("$BUILD/bench/zone-lookup-bench" "$work/com.zone.gz" "$NAMES")"
awk -v m="$BATCH" -v n="$NAMES" 'BEGIN { for (i = 0; i < m; i++) printf "name%d.com\n", (i * 7) % n }' \
    >"$work/batch.txt"
timed "(d) $BATCH names decided by the zone" "$CLI" check --threads 20 --zone "$work/com.zone.gz" \
    --dns off --results-out "$work/results.txt" "$work/batch.txt"
grep -h "checked\|registered by" "$work/err" | sed 's/^/    /' || true
