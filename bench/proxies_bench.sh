#!/usr/bin/env bash
# A batch through four proxies against a server that limits each client
# address, beside the same batch from one address.
#
# Four microsocks instances listen on loopback ports; each makes its outgoing
# connections from an address of its own (127.0.0.2 ... 127.0.0.5), so the
# fake WHOIS server, limited to 50 queries/s per client address (bursts of
# 10), sees four clients. The goal: 4,000 names with 20 threads through the
# four proxies finish with 0 unknown at no less than 0.9 x 200 = 180
# queries/s. The same batch without proxies shows what one address gets.
#
# Needs `fake-whois-server --limit` and `check --proxy`; the script says which
# is missing and stops before measuring. Builds Release into build/ (or
# $TAVIREL_BENCH_BUILD) first.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${TAVIREL_BENCH_BUILD:-build}
DOMAINS=${TAVIREL_BENCH_DOMAINS:-4000}
THREADS=20
LIMIT=50
BURST=10
SOURCES=(127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5)
GOAL_RATE=$(echo "0.9 * $LIMIT * ${#SOURCES[@]}" | bc -l)

command -v microsocks >/dev/null || {
    echo "microsocks is missing (scripts/bootstrap.sh lists it)" >&2
    exit 1
}

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIREL_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target tavirelbrisvane-cli fake-whois-server >/dev/null
CLI=$BUILD/app/tavirelbrisvane-cli
SERVER=$BUILD/tools/fake-whois-server

work=$(mktemp -d)
pids=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT

# A registered-domain reply, so that every name has a verdict when answered.
REPLY='Domain Name: EXAMPLE.COM\r\nRegistrar: Example Registrar, Inc.\r\n'
REPLY+='Creation Date: 1995-08-14T04:00:00Z\r\nExpiration Date: 14-aug-2025\r\n'
REPLY+='Name Server: A.IANA-SERVERS.NET\r\n'

# Whether something accepts connections on the loopback port.
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start_server() {
    "$SERVER" --limit "$LIMIT" --limit-burst "$BURST" --reply "$REPLY" \
        >"$work/server.out" 2>"$work/server.err" &
    local pid=$!
    for _ in $(seq 100); do
        PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.out")
        if [ -n "$PORT" ]; then
            pids+=("$pid")
            return 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "fake-whois-server refused the limit options:" >&2
            cat "$work/server.err" >&2
            echo "(the per-client limit, --limit N/s --limit-burst B, is not in this build;" >&2
            echo " nothing measured)" >&2
            exit 3
        fi
        sleep 0.05
    done
    echo "fake-whois-server did not start" >&2
    exit 1
}

# Starts microsocks on a free port with outgoing connections from $1; appends
# its URL to PROXIES.
PROXIES=()
start_proxy() {
    local source=$1 port pid
    for _ in $(seq 20); do
        port=$((20000 + RANDOM % 40000))
        listening "$port" && continue
        microsocks -i 127.0.0.1 -p "$port" -b "$source" >/dev/null 2>&1 &
        pid=$!
        for _ in $(seq 50); do
            if listening "$port"; then
                pids+=("$pid")
                PROXIES+=("socks5://127.0.0.1:$port")
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.02
        done
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    echo "microsocks did not start for $source" >&2
    exit 1
}

now() { date +%s.%N; }

# Runs check over the list with the given extra arguments; sets SECS and
# UNKNOWN from its summary line.
run_check() {
    local t0 t1 lines summary
    t0=$(now)
    TAVIREL_WHOIS_SERVER=127.0.0.1:$PORT "$CLI" check --threads "$THREADS" "$@" "$work/list.txt" \
        >"$work/check.out" 2>"$work/check.err" || true
    t1=$(now)
    SECS=$(echo "$t1 - $t0" | bc -l)
    lines=$(wc -l <"$work/check.out")
    if [ "$lines" -ne "$DOMAINS" ]; then
        echo "check printed $lines lines, expected $DOMAINS" >&2
        tail -5 "$work/check.err" >&2
        exit 1
    fi
    summary=$(grep '^checked ' "$work/check.err" | tail -1)
    UNKNOWN=$(echo "$summary" | sed -n 's/.* \([0-9]*\) unknown.*/\1/p')
    echo "  $summary"
}

seq 1 "$DOMAINS" | sed 's/^/bench/; s/$/.com/' >"$work/list.txt"
for source in "${SOURCES[@]}"; do
    start_proxy "$source"
done
start_server
echo "server 127.0.0.1:$PORT limited to $LIMIT/s per client (bursts of $BURST); proxies:"
for i in "${!PROXIES[@]}"; do
    echo "  ${PROXIES[$i]} connecting from ${SOURCES[$i]}"
done

proxy_args=()
for url in "${PROXIES[@]}"; do
    proxy_args+=(--proxy "$url")
done
if ! "$CLI" check --help 2>&1 | grep -q -- '--proxy'; then
    echo "check has no --proxy option in this build (the batch does not use proxies yet);" >&2
    echo "the server and the four proxies started; nothing measured" >&2
    exit 3
fi

echo "== one address: $DOMAINS names, $THREADS threads"
run_check
direct_secs=$SECS
printf '  %.1f s, %.0f names/s\n' "$direct_secs" "$(echo "$DOMAINS / $direct_secs" | bc -l)"

echo "== four proxies: $DOMAINS names, $THREADS threads"
run_check "${proxy_args[@]}"
rate=$(echo "$DOMAINS / $SECS" | bc -l)
ok=$(echo "$rate >= $GOAL_RATE && ${UNKNOWN:-1} == 0" | bc -l)
printf '  %.1f s, %.0f names/s (goal >= %.0f with 0 unknown: %s unknown) %s; %.2f x one address\n' \
    "$SECS" "$rate" "$GOAL_RATE" "${UNKNOWN:-?}" "$([ "$ok" = 1 ] && echo PASS || echo MISS)" \
    "$(echo "$direct_secs / $SECS" | bc -l)"
