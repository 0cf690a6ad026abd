#!/usr/bin/env bash
# Builds the fuzz programs (clang, libFuzzer with the address and undefined-
# behaviour sanitizers, into build-fuzz/) and runs each for SECONDS, as many at
# once as there are processors, with its seeds, dictionary and limits. A
# finding (a crash, a sanitizer report, a broken promise, an input slower than
# the time limit or using more memory than the limit) fails the run: its input
# is printed in base64 and kept in build-fuzz/findings/TARGET/.
#
#   fuzz/run.sh SECONDS [TARGET...]      TARGET: verdict pattern import manifest
#                                                rdap registry-data gbk (default: all)
#   FUZZ_NO_BUILD=1 fuzz/run.sh ...      runs what build-fuzz/ holds, without building
#   FUZZ_JOBS=N fuzz/run.sh ...          N targets at once (default: the processors)
#
# The corpus each program grows stays in build-fuzz/corpus/TARGET/ for the
# next run; the seeds are made afresh from the tree's data every run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
    echo "usage: fuzz/run.sh SECONDS [TARGET...]" >&2
    exit 2
fi
seconds=$1
shift

# Per target: the longest input, the time one input may take (seconds) and
# the memory the process may use (MB). Replies, answers and files of 64 KiB
# are plenty to reach every branch; a pattern is a line.
declare -A max_len=([verdict]=65536 [pattern]=4096 [import]=65538 [manifest]=32768
    [rdap]=65536 [registry-data]=16384 [gbk]=65536)
declare -A timeout=([verdict]=2 [pattern]=2 [import]=2 [manifest]=2 [rdap]=2
    [registry-data]=2 [gbk]=2)
rss_limit_mb=1024
all_targets=(verdict pattern import manifest rdap registry-data gbk)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
    if [ -z "${max_len[$target]:-}" ]; then
        echo "fuzz/run.sh: no target '$target' (targets: ${all_targets[*]})" >&2
        exit 2
    fi
done

build=$root/build-fuzz
if [ "${FUZZ_NO_BUILD:-0}" != 1 ]; then
    source scripts/bootstrap.sh
    tavirel_bootstrap
    started=$SECONDS
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DTAVIREL_FUZZ=ON -DTAVIREL_TESTS=OFF \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" >/dev/null
    cmake --build "$build" --target fuzzers
    echo "fuzz build: $((SECONDS - started)) s"
fi

# Each reply of the corpora behind the host that sent it (truth.tsv says
# which), as fuzz-verdict takes it.
seed_verdict() {
    local folder file host
    for folder in tests/data/whois-replies tests/data/whois-replies-2; do
        while IFS=$'\t' read -r file _ host _; do
            { printf '%s\n' "$host"; cat "$folder/$file"; } >"$1/${folder##*/}-$file"
        done < <(tail -n +2 "$folder/truth.tsv")
    done
}

# The names of the corpora as a candidate file, behind fuzz-import's two
# setting bytes (blocks of 8 bytes, reads of at most 16).
seed_import() {
    { printf '\x07\x0F'; tail -n +2 tests/data/whois-replies/truth.tsv | cut -f2; } >"$1/names.txt"
    { printf '\x3F\xFF'; tail -n +2 tests/data/whois-replies-2/truth.tsv | cut -f2 |
        sed 's/$/\r/'; } >"$1/names-crlf.txt"
}

# Each sample behind the name it answers for (registered-com-verisign-google.com.json
# answers for google.com) and two header values.
seed_rdap() {
    local sample name
    for sample in data/rdap-samples/*.json; do
        name=${sample##*/}
        name=${name%.json}
        name=${name##*-}
        { printf '%s\n120\nWed, 21 Oct 2015 07:28:00 GMT\n' "$name"; cat "$sample"; } \
            >"$1/${sample##*/}"
    done
}

seed_registry-data() {
    cp data/tld-servers.tsv data/rdap-dns.json "$1/"
}

# Replies in GBK and in UTF-8, and the corpora's names as lines.
seed_gbk() {
    cp tests/data/whois-replies/*_registered.txt "$1/"
    tail -n +2 tests/data/whois-replies-2/truth.tsv | cut -f2 >"$1/names.txt"
}

seed_pattern() { :; }
seed_manifest() { :; }

# "cov: 1234 ft: 5678 corp: 90/12Kb exec/s: 345" from a libFuzzer log.
last_status() {
    grep -aE '^#[0-9]+' "$1" | tail -n 1 | sed -E 's/^#([0-9]+)[[:space:]]+[A-Z]+[[:space:]]+/runs: \1 /;
        s/ lim: [0-9]+//; s/ rss: [0-9]+Mb//; s/ L: [0-9/]+//; s/ MS: .*//'
}

# Runs one target for SECONDS; what it found is reported by report_target.
fuzz_target() {
    local target=$1
    local program=$build/fuzz/fuzz-$target
    local seeds=$build/seeds/$target
    local corpus=$build/corpus/$target
    local findings=$build/findings/$target
    local log=$build/logs/$target.log
    rm -rf "$seeds" "$findings"
    mkdir -p "$seeds" "$corpus" "$findings" "$build/logs"
    [ -d "fuzz/seeds/$target" ] && cp fuzz/seeds/"$target"/* "$seeds/"
    "seed_$target" "$seeds"

    local started=$SECONDS status=0
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
        "$program" -max_total_time="$seconds" -max_len="${max_len[$target]}" \
        -timeout="${timeout[$target]}" -rss_limit_mb="$rss_limit_mb" \
        -dict="fuzz/$target.dict" -artifact_prefix="$findings/" -print_final_stats=1 \
        "$corpus" "$seeds" >"$log" 2>&1 || status=$?
    echo "$status $((SECONDS - started))" >"$build/logs/$target.status"
}

# Prints a target's figures, and on a finding its report and input; false on a finding.
report_target() {
    local target=$1
    local log=$build/logs/$target.log findings=$build/findings/$target
    local status took
    read -r status took <"$build/logs/$target.status"
    echo "fuzz-$target: $(last_status "$log"), $took s"
    [ "$status" -eq 0 ] && return 0
    echo "fuzz-$target: FINDING (exit status $status); the report:" >&2
    grep -aE -A40 '^==[0-9]+==|broken promise|runtime error|ALARM|out-of-memory' "$log" |
        head -n 80 >&2 || tail -n 40 "$log" >&2
    local found=0 input
    for input in "$findings"/*; do
        [ -f "$input" ] || continue
        found=1
        echo "fuzz-$target: input ${input#"$root"/} ($(stat -c %s "$input") bytes), base64:" >&2
        base64 -w 76 "$input" >&2
    done
    [ "$found" -eq 1 ] || echo "fuzz-$target: no input was kept; see ${log#"$root"/}" >&2
    return 1
}

# As many targets at once as there are processors (FUZZ_JOBS to choose):
# each is one process, so the run takes SECONDS per round, not per target.
jobs=${FUZZ_JOBS:-$(nproc)}
[[ $jobs =~ ^[1-9][0-9]*$ ]] || jobs=1
echo "fuzz/run.sh: ${#targets[@]} targets, ${seconds} s each, $jobs at once ..."
running=0
for target in "${targets[@]}"; do
    rm -f "$build/logs/$target.status"
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    fuzz_target "$target" &
    running=$((running + 1))
done
wait || true

failed=()
for target in "${targets[@]}"; do
    if [ ! -f "$build/logs/$target.status" ]; then
        echo "fuzz-$target: did not run to its end; see build-fuzz/logs/$target.log" >&2
        failed+=("$target")
    elif ! report_target "$target"; then
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz/run.sh: findings in: ${failed[*]}" >&2
    exit 1
fi
echo "fuzz/run.sh: no finding in ${targets[*]} (${seconds} s each)"
