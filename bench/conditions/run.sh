#!/usr/bin/env bash
# How exactly the Network Conditions keep the latency and the bandwidth they are given, side
# by side with the kernel's netem, with the same client and the same sizes.
#
#   bench/conditions/run.sh [--build DIR] [--seconds S] [--only latency|bandwidth]
#
# Ours: corvane-cli with -latency L (both ways) or -bandwidth up:R between the client and a
# server of build/bench/conditions/corvane_conditions_accuracy, all on 127.0.0.1. netem: the
# same client and server in a network namespace that this script makes and removes, whose
# loopback carries "netem delay L" or "netem rate R" (every packet crosses it once, so a round
# trip meets the delay twice, as it meets ours twice); its MTU is set to 1,500 so that the
# rate is kept per packet of a real link's size. netem needs root and a kernel with the netem
# qdisc: without them the column says why it was skipped.
#
# Latency, one way 1, 10 and 100 ms: the round-trip time added to the same path without the
# condition (each sample less the median round trip without it), its p50 and p99, against the
# set round trip (twice the one-way latency). Bandwidth 1 KB/s to 1 GB/s: the rate measured
# over S seconds' worth of bytes (from the first byte sent to the sink's answer) against the
# set rate. The machine is shared: run it when it is quiet, and more than once.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$here/build
seconds=5
only=""
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --only) only=$2; shift 2 ;;
        *) echo "usage: $0 [--build DIR] [--seconds S] [--only latency|bandwidth]" >&2; exit 2 ;;
    esac
done
tool=$build/bench/conditions/corvane_conditions_accuracy
cli=$build/src/app/cli/corvane-cli
for program in "$tool" "$cli"; do
    [ -x "$program" ] || { echo "$program is missing: build first" >&2; exit 1; }
done
work=$(mktemp -d -t corvane-conditions-bench-XXXXXX)
ns=""
pids=()

cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2> /dev/null || true
        wait "$pid" 2> /dev/null || true
    done
    if [ -n "$ns" ]; then
        ip netns del "$ns" 2> /dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Waits until something listens on 127.0.0.1:$1 (in the namespace when $2 is "ns").
wait_port() {
    for _ in $(seq 200); do
        if [ "${2:-}" = ns ]; then
            ip netns exec "$ns" bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2> /dev/null && return 0
        else
            bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2> /dev/null && return 0
        fi
        sleep 0.05
    done
    echo "nothing listens on $1" >&2
    return 1
}

start() {  # start NAME COMMAND...: in the background, its pid remembered
    "$@" > /dev/null 2>> "$work/stderr" &
    pids+=($!)
}

stop_last() {
    local pid=${pids[-1]}
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
    unset 'pids[-1]'
}

# A relay with the given conditions in front of a server of the given kind; prints its port.
relay_port=0
start_ours() {  # start_ours echo|sink CONDITIONS...
    local kind=$1
    shift
    local target listen
    target=$(free_port)
    start "$tool" "$kind" "$target"
    wait_port "$target"
    listen=$(free_port)
    start "$cli" 127.0.0.1 "$target" "$listen" -detail Low "$@"
    wait_port "$listen"
    relay_port=$listen
}

stop_ours() {
    stop_last
    stop_last
}

# p50 and p99 of (each sample - median of base), in ms, of two files of microseconds.
added_rtt() {
    python3 - "$1" "$2" << 'EOF'
import math
import sys
def load(path):
    return sorted(float(line) for line in open(path) if line.strip())
base = load(sys.argv[1])
samples = load(sys.argv[2])
median = base[len(base) // 2]
added = sorted(s - median for s in samples)
def pct(p):  # nearest rank: the smallest sample that p percent of them do not exceed
    rank = max(1, math.ceil(p / 100.0 * len(added)))
    return added[rank - 1] / 1000.0
print(f"{pct(50):.3f} {pct(99):.3f}")
EOF
}

netem_reason=""
if [ "$(id -u)" != 0 ]; then
    netem_reason="needs root"
else
    ns=corvane-bench-$$
    if ! ip netns add "$ns" 2> /dev/null; then
        netem_reason="no network namespace could be made"
        ns=""
    else
        ip netns exec "$ns" ip link set lo up
        ip netns exec "$ns" ip link set lo mtu 1500
        if ! ip netns exec "$ns" tc qdisc add dev lo root netem delay 1ms 2> /dev/null; then
            netem_reason="the kernel has no netem qdisc"
        else
            ip netns exec "$ns" tc qdisc del dev lo root
        fi
    fi
fi
[ -n "$netem_reason" ] && echo "# netem: skipped ($netem_reason)"

# In the namespace: a server, then the client with netem on the loopback (none: no qdisc).
netem_run() {  # netem_run echo|sink "QDISC ARGS" CLIENT ARGS...
    local kind=$1 qdisc=$2
    shift 2
    local port=40000
    ip netns exec "$ns" "$tool" "$kind" "$port" > /dev/null 2>> "$work/stderr" &
    pids+=($!)
    wait_port "$port" ns
    if [ "$qdisc" != none ]; then
        ip netns exec "$ns" tc qdisc add dev lo root netem $qdisc
    fi
    ip netns exec "$ns" "$tool" "$1" "$port" "${@:2}" || true
    if [ "$qdisc" != none ]; then
        ip netns exec "$ns" tc qdisc del dev lo root
    fi
    stop_last
}

if [ "$only" != bandwidth ]; then
    echo "# latency: added round-trip time in ms (p50, p99) against the set round trip"
    printf "%-9s %-8s %-18s %-18s\n" "one-way" "set" "ours p50 / p99" "netem p50 / p99"
    for ms in 1 10 100; do
        count=$((ms == 100 ? 200 : (ms == 10 ? 400 : 2000)))
        start_ours echo
        "$tool" pingpong "$relay_port" "$count" > "$work/base"
        stop_ours
        start_ours echo -latency "$ms"
        "$tool" pingpong "$relay_port" "$count" > "$work/ours"
        stop_ours
        ours=$(added_rtt "$work/base" "$work/ours")
        theirs="-"
        if [ -z "$netem_reason" ]; then
            netem_run echo none pingpong "$count" > "$work/nbase"
            netem_run echo "delay ${ms}ms" pingpong "$count" > "$work/netem"
            theirs=$(added_rtt "$work/nbase" "$work/netem")
        fi
        printf "%-9s %-8s %-18s %-18s\n" "$ms ms" "$((2 * ms)).000" "${ours/ / / }" \
            "${theirs/ / / }"
    done
fi

if [ "$only" != latency ]; then
    echo "# bandwidth: measured rate against the set rate (bytes per second)"
    printf "%-9s %-16s %-10s %-16s %-10s\n" "set" "ours" "error" "netem" "error"
    for rate in 1000 64000 1000000 100000000 1000000000; do
        bytes=$((rate * seconds))
        start_ours sink -bandwidth "up:$rate"
        ours=$("$tool" push "$relay_port" "$bytes")
        stop_ours
        theirs="-"
        if [ -z "$netem_reason" ]; then
            theirs=$(netem_run sink "rate $((rate * 8))bit" push "$bytes")
        fi
        error() {
            [ "$1" = "-" ] && { echo "-"; return; }
            python3 -c "print(f'{($1 - $2) / $2 * 100:+.2f}%')"
        }
        printf "%-9s %-16s %-10s %-16s %-10s\n" "$rate" "$ours" "$(error "$ours" "$rate")" \
            "$theirs" "$(error "$theirs" "$rate")"
    done
fi
