#!/usr/bin/env bash
# What confirming a free costs, and what it saves, with `check` against fake
# registries on loopback routed by --registry-data (no stand-in server, so
# the batch confirms as it does against real registries).
#  (a) A lying server: 300 registered .xyz names, the fake WHOIS server lets
#      each client through at 20 queries a second (burst 10) and answers
#      "NOT FOUND" beyond that instead of refusing; 20 threads. With the
#      suffix's RDAP base (a fake RDAP server that knows every name) and,
#      separately, 300 .dk names whose suffix has no RDAP base (the second
#      look, with a name the server answered registered beside it). Goal: 0
#      names saved free.
#  (b) Cost: 2,000 .dk and 2,000 .xyz names, 10 % free, 50 ms server latency,
#      20 threads, --confirm on beside off: the elapsed time's ratio (the
#      goal for RDAP confirmation: at most 1.10).
# .xyz and .dk, because the registry data routes them: a suffix of the
# program's own table (such as .cn) can still go to its real registry.
# Each run first checks that every route leads to loopback.
# Builds Release into build/ (or $TAVIREL_BENCH_BUILD) first.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${TAVIREL_BENCH_BUILD:-build}
THREADS=20
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIREL_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target tavirelbrisvane-cli fake-whois-server fake-rdap-server >/dev/null
CLI=$BUILD/app/tavirelbrisvane-cli
WHOIS=$BUILD/tools/fake-whois-server
RDAP=$BUILD/tools/fake-rdap-server

work=$(mktemp -d)
pids=()
stop_servers() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    pids=()
}
trap 'stop_servers; rm -rf "$work"' EXIT
# The budgets of a run stay in the bench's own state folder.
export XDG_STATE_HOME=$work/state
unset TAVIREL_WHOIS_SERVER TAVIREL_DNS_SERVER

# start NAME PROGRAM ARGS...: starts a fake server, sets PORT_NAME.
start() {
    local name=$1 program=$2
    shift 2
    "$program" "$@" >"$work/$name.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        local port
        port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/$name.out")
        if [ -n "$port" ]; then
            printf -v "PORT_$name" '%s' "$port"
            return 0
        fi
        sleep 0.05
    done
    echo "$name did not start" >&2
    exit 1
}

# names TLD COUNT FREE_EVERY: COUNT names, every FREE_EVERY-th (0: none) free.
names() {
    local tld=$1 count=$2 every=$3 i
    for i in $(seq "$count"); do
        if [ "$every" -gt 0 ] && [ $((i % every)) -eq 0 ]; then
            echo "free$i.$tld"
        else
            echo "taken$i.$tld"
        fi
    done
}

# replies DIR LIST: the fake WHOIS server's folder: "no match" for the free
# names, a registered reply by default.
replies() {
    local dir=$1 list=$2
    mkdir -p "$dir"
    printf 'Domain Name: TAKEN\r\nCreation Date: 2001-02-03T04:05:06Z\r\nName Server: NS1.EXAMPLE.NET\r\n' >"$dir/default"
    { grep '^free' "$list" || true; } | while read -r name; do
        printf 'No match for "%s".\r\n' "$name" >"$dir/$name"
    done
}

# rdap_answers DIR LIST: a domain object for every registered name.
rdap_answers() {
    local dir=$1 list=$2
    mkdir -p "$dir"
    { grep -v '^free' "$list" || true; } | while read -r name; do
        printf '{"objectClassName":"domain","ldhName":"%s","events":[{"eventAction":"registration","eventDate":"2001-02-03T04:05:06Z"}]}' \
            "$name" >"$dir/$name.json"
    done
}

now() { date +%s.%N; }

# Every suffix of the bench goes to a server on loopback, or nothing runs.
routes_stay_local() {
    local routes
    routes=$("$CLI" servers --registry-data "$work/servers.tsv" xyz dk)
    if [ "$(grep -c '127\.0\.0\.1:' <<<"$routes")" -ne 2 ]; then
        echo "a route leaves the machine:" >&2
        echo "$routes" >&2
        exit 1
    fi
}

# check LIST OUT ARGS...: runs check, prints the seconds it took.
check() {
    routes_stay_local
    local list=$1 out=$2
    shift 2
    local t0 t1
    t0=$(now)
    "$CLI" check --threads "$THREADS" --dns off --registry-data "$work/servers.tsv" \
        --free-out "$out.free" "$@" "$list" >"$out.results" 2>"$out.err" || true
    t1=$(now)
    echo "$t1 - $t0" | bc
}

echo "== (a) a server that answers NOT FOUND beyond 20 queries a second"
names xyz 300 0 >"$work/xyz300.txt"
names dk 300 0 >"$work/dk300.txt"
cat "$work/xyz300.txt" "$work/dk300.txt" >"$work/lying.txt"
replies "$work/lying-replies" "$work/lying.txt"
rdap_answers "$work/rdap-answers" "$work/xyz300.txt"
start LYING "$WHOIS" --replies "$work/lying-replies" --limit 20/s --limit-burst 10 \
    --throttle-text 'NOT FOUND\r\n'
start RDAP "$RDAP" --answers "$work/rdap-answers"
printf 'tld\twhois_server\trdap_base\nxyz\t127.0.0.1:%s\thttps://rdap.example.xyz/\ndk\t127.0.0.1:%s\t\n' \
    "$PORT_LYING" "$PORT_LYING" >"$work/servers.tsv"
export TAVIREL_RDAP_BASE=http://127.0.0.1:$PORT_RDAP/
for tld in xyz dk; do
    seconds=$(check "$work/${tld}300.txt" "$work/lying-$tld")
    saved=$(grep -c . "$work/lying-$tld.free" || true)
    summary=$(grep '^checked' "$work/lying-$tld.err" || true)
    confirmed=$(grep '^free confirmed' "$work/lying-$tld.err" || true)
    echo ".$tld: ${seconds}s, $saved names saved free (goal: 0)"
    echo "   $summary"
    [ -n "$confirmed" ] && echo "   $confirmed"
done
stop_servers

echo "== (b) what confirmation costs: 2,000 names, 10 % free, 50 ms latency, $THREADS threads"
for tld in dk xyz; do
    names "$tld" 2000 10 >"$work/cost-$tld.txt"
    replies "$work/cost-replies-$tld" "$work/cost-$tld.txt"
    rdap_answers "$work/cost-rdap-$tld" "$work/cost-$tld.txt"
    start COST "$WHOIS" --replies "$work/cost-replies-$tld" --latency 50
    start COSTRDAP "$RDAP" --answers "$work/cost-rdap-$tld" --latency 50
    printf 'tld\twhois_server\trdap_base\nxyz\t127.0.0.1:%s\thttps://rdap.example.xyz/\ndk\t127.0.0.1:%s\t\n' \
        "$PORT_COST" "$PORT_COST" >"$work/servers.tsv"
    export TAVIREL_RDAP_BASE=http://127.0.0.1:$PORT_COSTRDAP/
    off=$(check "$work/cost-$tld.txt" "$work/cost-off-$tld" --confirm off)
    on=$(check "$work/cost-$tld.txt" "$work/cost-on-$tld" --confirm on)
    free_off=$(grep -c . "$work/cost-off-$tld.free" || true)
    free_on=$(grep -c . "$work/cost-on-$tld.free" || true)
    how=$([ "$tld" = dk ] && echo "second look" || echo "RDAP")
    printf '.%s (%s): off %.2fs (%s free), on %.2fs (%s free): ratio %.3f\n' "$tld" "$how" \
        "$off" "$free_off" "$on" "$free_on" "$(echo "$on / $off" | bc -l)"
    grep '^free confirmed' "$work/cost-on-$tld.err" | sed 's/^/   /' || true
    stop_servers
done
