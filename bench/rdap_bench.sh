#!/usr/bin/env bash
# An RDAP batch: `tavirelbrisvane-cli check` of 2,000 .info names (a suffix
# served over RDAP only) with 20 threads against the fake RDAP server
# answering after 50 ms. Reports the elapsed time and its ratio to the ideal
# 2,000 / 20 x 50 ms = 5 s (goal: at most 1.10), and how many TCP connections
# the server accepted (goal: about one per thread, not one per name).
# Builds Release into build/ (or $TAVIREL_BENCH_BUILD) first.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${TAVIREL_BENCH_BUILD:-build}
DOMAINS=${TAVIREL_BENCH_DOMAINS:-2000}
THREADS=20
LATENCY_MS=50

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIREL_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target tavirelbrisvane-cli fake-rdap-server >/dev/null
CLI=$BUILD/app/tavirelbrisvane-cli
SERVER=$BUILD/tools/fake-rdap-server

work=$(mktemp -d)
server_pid=
stop_server() {
    if [ -n "$server_pid" ]; then
        kill -TERM "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
        server_pid=
    fi
}
trap 'stop_server; rm -rf "$work"' EXIT

# Every name is answered 404 from the base asked: free, a complete answer.
"$SERVER" --latency "$LATENCY_MS" >"$work/server.out" 2>&1 &
server_pid=$!
PORT=
for _ in $(seq 100); do
    PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.out")
    [ -n "$PORT" ] && break
    sleep 0.05
done
[ -n "$PORT" ] || { echo "fake-rdap-server did not start" >&2; exit 1; }

seq 1 "$DOMAINS" | sed 's/^/name/; s/$/.info/' >"$work/names.txt"

start=$(date +%s.%N)
env -u TAVIREL_WHOIS_SERVER TAVIREL_RDAP_BASE="http://127.0.0.1:$PORT/" \
    "$CLI" check --threads "$THREADS" "$work/names.txt" >"$work/out.txt" 2>"$work/err.txt" || {
    cat "$work/err.txt" >&2
    exit 1
}
end=$(date +%s.%N)
stop_server

lines=$(wc -l <"$work/out.txt")
accepted=$(sed -n 's/^accepted \([0-9]*\) connections.*/\1/p' "$work/server.out")
requests=$(sed -n 's/^accepted [0-9]* connections, \([0-9]*\) requests/\1/p' "$work/server.out")
ideal=$(echo "$DOMAINS / $THREADS * $LATENCY_MS / 1000" | bc -l)
elapsed=$(echo "$end - $start" | bc -l)
ratio=$(echo "$elapsed / $ideal" | bc -l)
tail -n 1 "$work/err.txt"
printf 'rdap batch: %d names, %d threads, %d ms latency: %.2f s (ideal %.2f s), ratio %.3f (goal <= 1.10)\n' \
    "$DOMAINS" "$THREADS" "$LATENCY_MS" "$elapsed" "$ideal" "$ratio"
printf 'result lines: %d; server accepted %s TCP connections for %s requests\n' \
    "$lines" "$accepted" "$requests"
