#!/bin/sh
# Network impairment run: kavrel-sim in a network namespace of its own, linked
# to the root namespace by a veth pair on a private /30 (10.213.7.1 here,
# 10.213.7.2 there), with netem delay and loss on both ends of the link (each
# direction is delayed and thinned, so the round trip takes twice the delay).
# The viewer (bench/soak.sh's kavrel-soak, offscreen, in the root namespace)
# plays the simulator's stream over that link for the chosen time; its
# summary gives frames decoded and drawn, watchdog restarts and memory.
#
#   scripts/netem.sh [--minutes N | --seconds N] [--delay MS] [--loss PERCENT]
#                    [--build DIR] [--no-build] [--no-fallback] [SOAK OPTIONS...]
#
# Defaults: 5 minutes, delay 200 ms, loss 2 %, build/; any other option goes
# to bench/soak.sh (for example --size 352x288 or --drop-every 0; its default
# drop every 60 s and channel change every 20 s stay on).
#
# Kernels without the netem queueing discipline (tc answers "Specified qdisc
# kind is unknown") get the same link from user space instead, unless
# --no-fallback: kavrel-linkem joins two TUN devices (kvt0 here, kvt1 in the
# namespace) and delays and drops every IP packet itself. The script says
# which one it used. Needs root, iproute2 (ip, tc) and /dev/net/tun.
# Exit status: bench/soak.sh's; 1 when the link cannot be made.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

seconds=300
delay=200
loss=2
build="$root/build"
do_build=1
fallback=1
pass=""
while [ $# -gt 0 ]; do
    case "$1" in
        --minutes) seconds=$(($2 * 60)); shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --delay) delay=$2; shift 2 ;;
        --loss) loss=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --no-build) do_build=0; shift ;;
        --no-fallback) fallback=0; shift ;;
        -h|--help) awk 'NR > 1 && /^#/ { print } /^set -eu/ { exit }' "$0"; exit 0 ;;
        *) pass="$pass $1"; shift ;;
    esac
done

[ "$(id -u)" -eq 0 ] || { echo "netem.sh: needs root (network namespaces, tc)" >&2; exit 1; }
command -v ip >/dev/null && command -v tc >/dev/null ||
    { echo "netem.sh: needs iproute2 (ip, tc)" >&2; exit 1; }

ns=kavrel-netem
near_address=10.213.7.1
far_address=10.213.7.2
linkem_pid=""
linkem_log=$(mktemp /tmp/kavrel-linkem.XXXXXX)

cleanup() {
    if [ -n "$linkem_pid" ]; then
        kill -TERM "$linkem_pid" 2>/dev/null || true
        wait "$linkem_pid" 2>/dev/null || true
        sed -n 's/^kavrel-linkem /  link /p' "$linkem_log" | grep -v ready || true
    fi
    ip netns del "$ns" 2>/dev/null || true
    ip link del kvn0 2>/dev/null || true
    rm -f "$linkem_log"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "$do_build" = 1 ]; then
    [ -f "$build/CMakeCache.txt" ] ||
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target kavrel-sim kavrel-soak kavrel-linkem >/dev/null
fi

# A namespace left by an interrupted run goes first.
ip netns del "$ns" 2>/dev/null || true
ip link del kvn0 2>/dev/null || true
ip netns add "$ns"
ip -n "$ns" link set lo up

# The veth pair with netem on both ends.
ip link add kvn0 type veth peer name kvn1
ip link set kvn1 netns "$ns"
ip addr add "$near_address/30" dev kvn0
ip -n "$ns" addr add "$far_address/30" dev kvn1
ip link set kvn0 up
ip -n "$ns" link set kvn1 up
if why=$(tc qdisc add dev kvn0 root netem delay "${delay}ms" loss "${loss}%" 2>&1) &&
    tc -n "$ns" qdisc add dev kvn1 root netem delay "${delay}ms" loss "${loss}%" 2>&1; then
    link="veth kvn0/kvn1 with netem delay ${delay} ms, loss ${loss} % on both ends"
else
    echo "netem.sh: netem is not available: tc says \"$why\" (kernel $(uname -r)," \
        "sch_netem $(zcat /proc/config.gz 2>/dev/null | grep -E '^# CONFIG_NET_SCH_NETEM|^CONFIG_NET_SCH_NETEM' ||
            echo 'not in /proc/config.gz'))"
    [ "$fallback" = 1 ] || exit 1
    ip link del kvn0
    linkem="$build/bench/soak/kavrel-linkem"
    [ -x "$linkem" ] || { echo "netem.sh: $linkem missing" >&2; exit 1; }
    "$linkem" --netns "$ns" --delay-ms "$delay" --loss-percent "$loss" >"$linkem_log" 2>&1 &
    linkem_pid=$!
    waited=0
    until grep -q "ready" "$linkem_log"; do
        kill -0 "$linkem_pid" 2>/dev/null && [ $waited -lt 100 ] ||
            { cat "$linkem_log" >&2; exit 1; }
        sleep 0.1
        waited=$((waited + 1))
    done
    ip addr add "$near_address/30" dev kvt0
    ip -n "$ns" addr add "$far_address/30" dev kvt1
    ip link set kvt0 up
    ip -n "$ns" link set kvt1 up
    link="TUN kvt0/kvt1 joined by kavrel-linkem: delay ${delay} ms, loss ${loss} % each way"
fi
echo "netem.sh: kavrel-sim in netns $ns at $far_address, viewer here at $near_address; $link"

status=0
# shellcheck disable=SC2086  # $pass holds separate options
SOAK_SIM_PREFIX="ip netns exec $ns" "$root/bench/soak.sh" --seconds "$seconds" --build "$build" \
    --no-build --sim-address "$far_address" $pass || status=$?
exit "$status"
