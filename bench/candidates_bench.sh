#!/usr/bin/env bash
# Speed and memory of building candidate lists, with the Release build in build/:
#   (a) generating 100,000 distinct names from {拼音x2}{数字}{数字}.com  (goal: under 1 s)
#   (b) importing a 1,000,000-line file with 10 % repeated and 10 % invalid lines,
#       timed beside awk '!seen[$0]++' on the same file            (goal: no slower than awk)
#   (c) peak memory of (b)                                          (goal: under 150 MB)
# Each timing is the best of RUNS runs (default 3). Output goes to /dev/null so
# that both sides pay the same for writing.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-3}

if [ ! -x /usr/bin/time ]; then
    echo "/usr/bin/time is missing; install it with: sudo apt-get install -y time" >&2
    exit 1
fi

if [ ! -x build/app/tavirelbrisvane-cli ] || [ "${REBUILD:-1}" = 1 ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIREL_TESTS=OFF >/dev/null
    cmake --build build -j 2 --target tavirelbrisvane-cli >/dev/null
fi
CLI=$PWD/build/app/tavirelbrisvane-cli

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Arithmetic and comparisons with awk (1 for true), so bc is not needed.
calc() { awk "BEGIN { print $1 }"; }

# Wall-clock seconds of one run of "$@" with standard output thrown away.
seconds_of() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    calc "$end - $start"
}

# The best of RUNS runs.
best_of() {
    local best="" t i
    for ((i = 0; i < RUNS; i++)); do
        t=$(seconds_of "$@")
        if [ -z "$best" ] || [ "$(calc "$t < $best")" = 1 ]; then
            best=$t
        fi
    done
    printf '%.3f' "$best"
}

verdict() { # verdict CONDITION
    if [ "$(calc "$1")" = 1 ]; then echo "met"; else echo "MISSED"; fi
}

echo "== (a) generate 100,000 distinct names from {拼音x2}{数字}{数字}.com"
"$CLI" generate '{拼音x2}{数字}{数字}.com' --count 100000 >"$WORK/generated.txt"
lines=$(wc -l <"$WORK/generated.txt")
distinct=$(sort -u "$WORK/generated.txt" | wc -l)
gen=$(best_of "$CLI" generate '{拼音x2}{数字}{数字}.com' --count 100000)
echo "   $lines lines, $distinct distinct; best of $RUNS: ${gen} s (goal < 1 s: $(verdict "$gen < 1"))"

echo "== (b) import 1,000,000 lines (800,000 distinct valid, 100,000 repeats, 100,000 invalid)"
# Distinct valid names made by the generation job itself; repeats drawn from
# them; invalid lines of the kinds a real list holds; all shuffled with a
# fixed seed so every run measures the same file.
# One job makes at most 300001 attempts, so three runs make the 800,000.
for run in 1 2 3; do
    "$CLI" generate '{拼音x2}{数字}{数字}{数字}.com' --count 300000
done >"$WORK/made.txt"
awk '!seen[$0]++' "$WORK/made.txt" >"$WORK/distinct.txt"
head -n 800000 "$WORK/distinct.txt" >"$WORK/valid.txt"
[ "$(wc -l <"$WORK/valid.txt")" = 800000 ] || { echo "could not make 800,000 names" >&2; exit 1; }
{
    cat "$WORK/valid.txt"
    shuf -n 100000 --random-source=<(yes) "$WORK/valid.txt"
    awk 'BEGIN { for (i = 0; i < 100000; i++) {
        k = i % 4
        if (k == 0) print "bad-name" i ".com"
        else if (k == 1) print "name" i ".com.cn"
        else if (k == 2) print "  "
        else print "no_dot" i } }'
} | shuf --random-source=<(yes) >"$WORK/import.txt"
echo "   file: $(wc -l <"$WORK/import.txt") lines, $(wc -c <"$WORK/import.txt") bytes"
imported=$("$CLI" import "$WORK/import.txt" | wc -l)
echo "   import keeps $imported names"
awk_name=$(readlink -f "$(command -v awk)")
t_awk=$(best_of awk '!seen[$0]++' "$WORK/import.txt")
t_import=$(best_of "$CLI" import "$WORK/import.txt")
echo "   $awk_name '!seen[\$0]++': ${t_awk} s"
echo "   tavirelbrisvane-cli import:   ${t_import} s (goal <= awk: $(verdict "$t_import <= $t_awk"))"

echo "== (c) peak memory of (b)"
kb=$(/usr/bin/time -v "$CLI" import "$WORK/import.txt" 2>&1 >/dev/null |
    awk -F': ' '/Maximum resident set size/ { print $2 }')
kb_awk=$(/usr/bin/time -v awk '!seen[$0]++' "$WORK/import.txt" 2>&1 >/dev/null |
    awk -F': ' '/Maximum resident set size/ { print $2 }')
mb=$(calc "$kb / 1024")
printf '   import: %.1f MB (goal < 150 MB: %s); awk: %.1f MB\n' "$mb" "$(verdict "$mb < 150")" \
    "$(calc "$kb_awk / 1024")"
