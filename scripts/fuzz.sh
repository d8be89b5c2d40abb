#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs each one for a while, starting from its seed inputs; fails when any target finds a
# crash, a leak or a broken property. Prints executions and coverage per target.
#   scripts/fuzz.sh [seconds-per-target]      default 60
# Environment: FUZZ_JOBS targets at once (default 2), FUZZ_WORK_DIR for the grown corpora,
# the logs and the reproducers (default a fresh temporary directory), FUZZ_FORK=1 to keep
# going after a finding (libFuzzer's fork mode, for long runs), FUZZ_TARGETS to pick targets.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
jobs=${FUZZ_JOBS:-2}
build=${FUZZ_BUILD_DIR:-$here/build-fuzz}
work=${FUZZ_WORK_DIR:-$(mktemp -d -t corvane-fuzz-run-XXXXXX)}
targets=(${FUZZ_TARGETS:-split_text_lines hex_dump write_log_text is_html_log_name
         rewrite_http_request parse_command_line settings_reader stream_reader})

if ! command -v clang++ > /dev/null; then
    echo "fuzz.sh: clang++ is missing (scripts/setup.sh --tests installs it)" >&2
    exit 1
fi
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_BUILD_FUZZ=ON -DCORVANE_SANITIZE=ON \
    -DCORVANE_BUILD_BENCH=OFF > "$work/configure.log" 2>&1 ||
    { tail -40 "$work/configure.log"; exit 1; }
cmake --build "$build" --target corvane_fuzz_all -j2 > "$work/build.log" 2>&1 ||
    { tail -40 "$work/build.log"; exit 1; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen

run_target() {
    local name=$1
    local corpus="$work/corpus/$name" artifacts="$work/artifacts/$name"
    mkdir -p "$corpus" "$artifacts"
    local options=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048
                   -print_final_stats=1 -artifact_prefix="$artifacts/")
    [ -f "$here/tests/fuzz/dict/$name.dict" ] && options+=(-dict="$here/tests/fuzz/dict/$name.dict")
    [ "${FUZZ_FORK:-0}" = 1 ] && options+=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1)
    local rc=0
    nice -n 10 "$build/tests/fuzz/fuzz_$name" "${options[@]}" "$corpus" \
        "$here/tests/fuzz/corpus/$name" > "$work/$name.log" 2>&1 || rc=$?
    echo "$rc" > "$work/$name.rc"
}

running=0
for name in "${targets[@]}"; do
    run_target "$name" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait

failed=0
printf '%-22s %12s %8s %8s  %s\n' target executions cov corpus result
for name in "${targets[@]}"; do
    log="$work/$name.log"
    rc=$(cat "$work/$name.rc" 2> /dev/null || echo 1)
    # Fork mode prints no final statistics: its last status line tells the same.
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' |
            tail -1 || true)
    [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || true)
    corpus=$(find "$work/corpus/$name" -type f | wc -l)
    found=$(find "$work/artifacts/$name" -type f | wc -l)
    result=ok
    if [ "$rc" != 0 ] || [ "$found" != 0 ]; then
        result="FAILED (rc $rc, $found reproducer(s) in $work/artifacts/$name)"
        failed=1
    fi
    printf '%-22s %12s %8s %8s  %s\n' "$name" "${execs:-?}" "${cov:-?}" "$corpus" "$result"
done
echo "logs and corpora: $work"
if [ "$failed" != 0 ]; then
    for name in "${targets[@]}"; do
        [ "$(cat "$work/$name.rc" 2> /dev/null || echo 1)" = 0 ] ||
            { echo "--- $name"; grep -v '^#' "$work/$name.log" | grep -v '^ *#[0-9]' | tail -25; }
    done
    exit 1
fi
