#!/usr/bin/env bash
# Throughput of `tavirelbrisvane-cli check` against the fake WHOIS server.
#  (a) 50 ms server latency, 20 threads, 2,000 domains: elapsed time and its
#      ratio to the ideal 2,000 / 20 x 50 ms = 5 s (goal: at most 1.10).
#  (b) no added latency: domains per second of check beside Debian's whois
#      client run as `xargs -P 20 whois -h 127.0.0.1 -p PORT` on the same list
#      (goal: at least twice the xargs rate).
#  (c) no added latency, 20 threads, 2,000 domains, with --journal beside
#      without, in pairs: the median ratio within a pair (goal: at most 1.05).
# Builds Release into build/ (or $TAVIREL_BENCH_BUILD) first.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${TAVIREL_BENCH_BUILD:-build}
DOMAINS=${TAVIREL_BENCH_DOMAINS:-2000}
THREADS=20
LATENCY_MS=50

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIREL_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target tavirelbrisvane-cli fake-whois-server >/dev/null
CLI=$BUILD/app/tavirelbrisvane-cli
SERVER=$BUILD/tools/fake-whois-server

work=$(mktemp -d)
server_pid=
stop_server() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
        server_pid=
    fi
}
trap 'stop_server; rm -rf "$work"' EXIT

# A registered-domain reply of the usual shape, about 1 KB.
REPLY='Domain Name: EXAMPLE.COM\r\nRegistry Domain ID: 2336799_DOMAIN_COM-VRSN\r\n'
REPLY+='Registrar WHOIS Server: whois.example-registrar.com\r\n'
REPLY+='Updated Date: 2023-08-14T07:01:38Z\r\nCreation Date: 1995-08-14T04:00:00Z\r\n'
REPLY+='Expiration Date: 14-aug-2025\r\nRegistrar: Example Registrar, Inc.\r\n'
REPLY+='Domain Status: clientTransferProhibited\r\nName Server: A.IANA-SERVERS.NET\r\n'
REPLY+='Name Server: B.IANA-SERVERS.NET\r\nDNSSEC: signedDelegation\r\n'
for _ in 1 2 3 4 5 6; do
    REPLY+='NOTICE: The expiration date displayed in this record is the date the registrar'"'"'s\r\n'
done

# Starts the server with the given latency; sets PORT.
start_server() {
    stop_server
    "$SERVER" --latency "$1" --reply "$REPLY" >"$work/server.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 100); do
        PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.out")
        [ -n "$PORT" ] && return 0
        sleep 0.05
    done
    echo "fake-whois-server did not start" >&2
    exit 1
}

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }

seq 1 "$DOMAINS" | sed 's/^/bench/; s/$/.com/' >"$work/list.txt"

# Extra arguments go before the list (e.g. --journal FILE).
run_check() {
    TAVIREL_WHOIS_SERVER=127.0.0.1:$PORT "$CLI" check --threads "$THREADS" "$@" "$work/list.txt" \
        >"$work/check.out" 2>"$work/check.err"
    local lines
    lines=$(wc -l <"$work/check.out")
    if [ "$lines" -ne "$DOMAINS" ]; then
        echo "check printed $lines lines, expected $DOMAINS" >&2
        cat "$work/check.err" >&2
        exit 1
    fi
}

echo "== (a) ${LATENCY_MS} ms latency, $THREADS threads, $DOMAINS domains"
start_server "$LATENCY_MS"
t0=$(now); run_check; t1=$(now)
a_secs=$(elapsed "$t0" "$t1")
ideal=$(echo "$DOMAINS / $THREADS * $LATENCY_MS / 1000" | bc -l)
ratio=$(echo "$a_secs / $ideal" | bc -l)
printf 'check: %.3f s, ideal %.3f s, ratio %.3f (goal <= 1.10) %s\n' "$a_secs" "$ideal" "$ratio" \
    "$( [ "$(echo "$ratio <= 1.10" | bc -l)" = 1 ] && echo PASS || echo MISS)"

echo "== (b) no added latency, $THREADS parallel, $DOMAINS domains"
start_server 0
t0=$(now); run_check; t1=$(now)
check_rate=$(echo "$DOMAINS / $(elapsed "$t0" "$t1")" | bc -l)
t0=$(now)
xargs -P "$THREADS" -n 1 whois -h 127.0.0.1 -p "$PORT" <"$work/list.txt" >/dev/null 2>&1 || true
t1=$(now)
xargs_rate=$(echo "$DOMAINS / $(elapsed "$t0" "$t1")" | bc -l)
factor=$(echo "$check_rate / $xargs_rate" | bc -l)
printf 'check: %.0f domains/s; xargs whois: %.0f domains/s; factor %.2f (goal >= 2) %s\n' \
    "$check_rate" "$xargs_rate" "$factor" \
    "$( [ "$(echo "$factor >= 2" | bc -l)" = 1 ] && echo PASS || echo MISS)"

REPEATS=${TAVIREL_BENCH_REPEATS:-15}
echo "== (c) no added latency, $THREADS threads, $DOMAINS domains, --journal beside none ($REPEATS pairs)"
start_server 0
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
time_check() {
    rm -f "$work/batch.journal"*
    local t0 t1
    t0=$(now); run_check "$@"; t1=$(now)
    elapsed "$t0" "$t1"
}
: >"$work/plain.times"
: >"$work/journal.times"
: >"$work/ratios"
# Runs in pairs, each side first every other time; the ratio within a pair
# is the measure, since the machine's load drifts far more between pairs
# than within one.
for i in $(seq "$REPEATS"); do
    if [ $((i % 2)) = 1 ]; then
        plain=$(time_check); journaled=$(time_check --journal "$work/batch.journal")
    else
        journaled=$(time_check --journal "$work/batch.journal"); plain=$(time_check)
    fi
    echo "$plain" >>"$work/plain.times"
    echo "$journaled" >>"$work/journal.times"
    echo "$journaled / $plain" | bc -l >>"$work/ratios"
done
printf 'runs without: %s\nruns with:    %s\n' "$(sort -n "$work/plain.times" | tr '\n' ' ')" \
    "$(sort -n "$work/journal.times" | tr '\n' ' ')"
ratio=$(median <"$work/ratios")
printf 'check: %.3f s; check --journal: %.3f s (medians); ratio %.3f (median of the pairs; goal <= 1.05) %s\n' \
    "$(median <"$work/plain.times")" "$(median <"$work/journal.times")" "$ratio" \
    "$( [ "$(echo "$ratio <= 1.05" | bc -l)" = 1 ] && echo PASS || echo MISS)"
