#!/usr/bin/env bash
# DNS first against the registry alone, side by side in one run, with NSD on
# loopback serving a generated .com zone and the fake WHOIS server letting
# each client through at 50 queries a second (burst 10):
#  (a) N names (default 10,000; the goal is stated for 100,000), 90 % of them
#      delegated in the zone: the time of check with DNS first and without,
#      their ratio (ideal 10x, goal at least 9x), the same verdict for every
#      name in both runs, and 0 names decided free by DNS;
#  (b) the DNS stage alone: N names all delegated, names a second (goal: at
#      least 5,000/s on this 2-core machine).
# Builds Release into build/ (or $TAVIREL_BENCH_BUILD) first; needs nsd. Run
# one part alone with TAVIREL_BENCH_PARTS (for example "b").
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${TAVIREL_BENCH_BUILD:-build}
DOMAINS=${TAVIREL_BENCH_DOMAINS:-10000}
PARTS=${TAVIREL_BENCH_PARTS:-ab}
THREADS=20
command -v nsd >/dev/null || { echo "dns_bench: nsd is not installed (Debian package nsd)" >&2; exit 2; }

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIREL_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target tavirelbrisvane-cli fake-whois-server >/dev/null
CLI=$BUILD/app/tavirelbrisvane-cli
SERVER=$BUILD/tools/fake-whois-server

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# The names: every tenth is free, the others are delegated in the zone; a
# separate list of delegated names only for the DNS stage alone.
mkdir -p "$work/replies" "$work/nsd"
printf 'Domain Name: TAKEN.COM\r\nRegistrar: Bench Registrar\r\nName Server: NS1.HOST.TEST\r\n' \
    >"$work/replies/default"
{
    printf '$ORIGIN com.\n$TTL 3600\n'
    printf '@ IN SOA ns.nic.test. hostmaster.nic.test. 2024010101 3600 600 86400 300\n'
    printf '@ IN NS ns.nic.test.\n'
} >"$work/nsd/com.zone"
: >"$work/names.txt"
: >"$work/delegated.txt"
for ((i = 0; i < DOMAINS; i++)); do
    if ((i % 10 == 9)); then
        echo "free$i.com" >>"$work/names.txt"
        printf 'No match for "FREE%d.COM".\r\n' "$i" >"$work/replies/free$i.com"
    else
        echo "taken$i.com" >>"$work/names.txt"
        printf 'taken%d IN NS ns1.host.test.\n' "$i" >>"$work/nsd/com.zone"
    fi
    printf 'stage%d IN NS ns1.host.test.\n' "$i" >>"$work/nsd/com.zone"
    echo "stage$i.com" >>"$work/delegated.txt"
done

dns_port=$(free_port)
cat >"$work/nsd/nsd.conf" <<CONF
server:
    ip-address: 127.0.0.1
    port: $dns_port
    username: ""
    chroot: ""
    database: ""
    zonesdir: "$work/nsd"
    pidfile: "$work/nsd/nsd.pid"
    zonelistfile: "$work/nsd/zone.list"
    xfrdfile: "$work/nsd/xfrd.state"
    xfrdir: "$work/nsd"
    logfile: "$work/nsd/nsd.log"
    server-count: 1
    do-ip6: no
remote-control:
    control-enable: no
zone:
    name: "com"
    zonefile: "com.zone"
CONF
nsd -d -c "$work/nsd/nsd.conf" &
pids+=($!)

whois_port=$(free_port)
"$SERVER" --port "$whois_port" --replies "$work/replies" --limit 50/s --limit-burst 10 >/dev/null 2>&1 &
pids+=($!)
sleep 1

# check LIST [DNS SERVER]: the CSV on standard output, the seconds on stderr.
timed_check() {
    local list=$1 out=$2 start end
    start=$(date +%s.%N)
    TAVIREL_WHOIS_SERVER=127.0.0.1:$whois_port TAVIREL_DNS_SERVER=${3:-} \
        "$CLI" check --threads "$THREADS" --format csv "$list" >"$out" 2>"$out.err" || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}

if [[ $PARTS == *a* ]]; then
    with=$(timed_check "$work/names.txt" "$work/with.csv" "127.0.0.1:$dns_port")
    without=$(timed_check "$work/names.txt" "$work/without.csv")
    verdicts() { tail -n +2 "$1" | cut -d, -f1,2 | sort; }
    differ=$(diff <(verdicts "$work/with.csv") <(verdicts "$work/without.csv") | grep -c '^[<>]' || true)
    free_by_dns=$(tail -n +2 "$work/with.csv" | awk -F, '$2=="free" && $NF ~ /^dns/' | wc -l)
    echo "(a) $DOMAINS names, 90 % delegated: with DNS first $with s, without $without s," \
        "ratio $(echo "scale=2; $without / $with" | bc)x (goal >= 9x)"
    echo "    names whose verdict differs between the runs: $differ; decided free by DNS: $free_by_dns"
    grep -h "registered by\|^checked" "$work/with.csv.err" | sed 's/^/    with: /'

fi

if [[ $PARTS == *b* ]]; then
    stage=$(timed_check "$work/delegated.txt" "$work/stage.csv" "127.0.0.1:$dns_port")
    echo "(b) DNS stage alone, $DOMAINS delegated names: $stage s," \
        "$(echo "scale=0; $DOMAINS / $stage" | bc) names/s (goal >= 5000/s)"
fi
