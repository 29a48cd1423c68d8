#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang in their own folder (build-fuzz) and runs each in turn for
# the given number of seconds (600 by default), starting from the seeds in fuzz/corpus/<target>. What the
# fuzzer learns goes to fuzz/grown/<target>, inputs that crash or break an invariant to fuzz/artifacts/<target>;
# both stay out of git. The table at the end gives each target's executions and findings. Arguments: seconds,
# then the targets to run (all by default), e.g. scripts/fuzz.sh 60 fuzz_pdu.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-600}
[ $# -gt 0 ] && shift
targets=${*:-"fuzz_answers fuzz_listing fuzz_charset fuzz_pdu"}

# Debug keeps Qt's own assertions (an index out of range in a QByteArrayView, say) as findings; -O1 for speed.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DBROADTEXT_FUZZ=ON -DBROADTEXT_TESTS=OFF -DBROADTEXT_BENCH=OFF >/dev/null
# shellcheck disable=SC2086 # one argument per target
nice -n 10 cmake --build build-fuzz -j2 --target $targets

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
logs=build-fuzz/fuzz-logs
mkdir -p "$logs"
summary=""
for target in $targets; do
    mkdir -p "fuzz/grown/$target" "fuzz/artifacts/$target"
    dict=""
    case $target in fuzz_answers | fuzz_listing) dict="-dict=fuzz/at.dict" ;; esac
    echo "== $target: $seconds s"
    # A slow input is a finding too: the parsers run on the modem thread while a window waits.
    # shellcheck disable=SC2086 # no dictionary is no argument
    nice -n 10 "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="fuzz/artifacts/$target/" $dict "fuzz/grown/$target" "fuzz/corpus/$target" \
        >"$logs/$target.log" 2>&1 || true
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$target.log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$logs/$target.log" | tail -n 1)
    corpus=$(find "fuzz/grown/$target" -type f | wc -l)
    findings=$(find "fuzz/artifacts/$target" -type f | wc -l)
    summary="$summary$(printf '%-14s %12s %8s %8s %9s' "$target" "${runs:-?}" "${rate:-?}" "$corpus" "$findings")
"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|.*invariant broken)' "$logs/$target.log" | head -n 5 || true
done

echo
printf '%-14s %12s %8s %8s %9s\n' target executions exec/s corpus findings
printf '%s' "$summary"
echo "Logs in $logs; findings in fuzz/artifacts/<target>."
