#!/bin/sh
# Soak run: the viewer's main window (kavrel-soak, offscreen) against kavrel-sim
# for a chosen time at 1280x720 and 25 frames per second, with a channel
# change every 20 s and a dropped connection every 60 s (the simulator is
# stopped and started again on the same port; the viewer's watchdog notices
# the silence and reconnects). kavrel-soak samples its resident memory and CPU
# every second and prints start, peak and end memory, memory after the first
# minute with its trend, frames decoded and dropped, and its restarts.
#
#   bench/soak.sh [--minutes N | --seconds N] [--build DIR] [--no-build]
#                 [--size WxH] [--fps N] [--bitrate BITS] [--channels N]
#                 [--channel-every S] [--drop-every S] [--drop-offset S] [--port PORT]
#                 [--sim-address ADDRESS] [--viewer-address ADDRESS] [--out DIR]
#
# Defaults: 10 minutes, build/ (built here unless --no-build), 1280x720, 25 fps,
# 2000000 bit/s, 4 channels, channel change every 20 s, drop every 60 s (0: never)
# from 70 s on (the offset of 10 s keeps drops between channel changes, so that
# the watchdog, not a channel change, finds each one), port 37990 on 127.0.0.1.
# SOAK_SIM_PREFIX runs the simulator under a prefix (scripts/netem.sh puts it
# in a network namespace with it). Logs and the
# per-second samples (samples.csv) go to --out (default: a new folder in /tmp).
# Exit status: the viewer's (0 when it decoded pictures), 1 when the simulator
# cannot be started, 2 for bad options.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

seconds=600
build="$root/build"
do_build=1
size=1280x720
fps=25
bitrate=2000000
channels=4
channel_every=20
drop_every=60
drop_offset=10
port=37990
sim_address=127.0.0.1
viewer_address=""
out=""
while [ $# -gt 0 ]; do
    case "$1" in
        --minutes) seconds=$(($2 * 60)); shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --no-build) do_build=0; shift ;;
        --size) size=$2; shift 2 ;;
        --fps) fps=$2; shift 2 ;;
        --bitrate) bitrate=$2; shift 2 ;;
        --channels) channels=$2; shift 2 ;;
        --channel-every) channel_every=$2; shift 2 ;;
        --drop-every) drop_every=$2; shift 2 ;;
        --drop-offset) drop_offset=$2; shift 2 ;;
        --port) port=$2; shift 2 ;;
        --sim-address) sim_address=$2; shift 2 ;;
        --viewer-address) viewer_address=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        -h|--help) awk 'NR > 1 && /^#/ { print } /^set -eu/ { exit }' "$0"; exit 0 ;;
        *) echo "soak.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
[ -n "$viewer_address" ] || viewer_address=$sim_address
[ -n "$out" ] || out=$(mktemp -d /tmp/kavrel-soak.XXXXXX)
mkdir -p "$out"
prefix=${SOAK_SIM_PREFIX:-}

if [ "$do_build" = 1 ]; then
    [ -f "$build/CMakeCache.txt" ] ||
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target kavrel-sim kavrel-soak >/dev/null
fi
sim="$build/tools/kavrel-sim"
soak="$build/bench/soak/kavrel-soak"
[ -x "$sim" ] && [ -x "$soak" ] || { echo "soak.sh: $sim or $soak missing" >&2; exit 2; }

sim_pid=""
soak_pid=""
starts=0
cleanup() {
    [ -n "$soak_pid" ] && kill "$soak_pid" 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Starts the simulator and waits (up to 30 s) for its new "listening" line.
start_sim() {
    before=$(grep -c "listening" "$out/sim.stdout" 2>/dev/null || true)
    # shellcheck disable=SC2086  # the prefix is a command line
    $prefix "$sim" --address "$sim_address" --port "$port" --size "$size" --fps "$fps" \
        --bitrate "$bitrate" --channels "$channels" >>"$out/sim.stdout" 2>>"$out/sim.log" &
    sim_pid=$!
    starts=$((starts + 1))
    waited=0
    while [ "$(grep -c "listening" "$out/sim.stdout" 2>/dev/null || true)" -le "${before:-0}" ]; do
        if ! kill -0 "$sim_pid" 2>/dev/null || [ $waited -ge 300 ]; then
            echo "soak.sh: kavrel-sim did not start (see $out/sim.log)" >&2
            tail -n 5 "$out/sim.log" >&2 || true
            exit 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
}

stop_sim() {
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}

echo "soak.sh: ${seconds} s, ${size} at ${fps} fps, ${bitrate} bit/s, ${channels} channels," \
    "channel change every ${channel_every} s, connection dropped every ${drop_every} s" \
    "from $((drop_offset + drop_every)) s on; logs in $out"
start_sim
"$soak" --address "$viewer_address" --port "$port" --seconds "$seconds" \
    --channel-every "$channel_every" --channels "$channels" --samples "$out/samples.csv" \
    >"$out/soak.log" 2>"$out/soak.stderr" &
soak_pid=$!

# Drops follow the wall clock from the viewer's start (counting loop turns
# would drift by the time each restart takes, onto the channel changes).
started=$(date +%s)
next_drop=$((drop_offset + drop_every))
drops=0
while kill -0 "$soak_pid" 2>/dev/null; do
    sleep 0.2
    elapsed=$(($(date +%s) - started))
    if [ "$drop_every" -gt 0 ] && [ "$elapsed" -ge "$next_drop" ] && [ "$elapsed" -lt "$seconds" ]; then
        next_drop=$((next_drop + drop_every))
        stop_sim
        start_sim
        drops=$((drops + 1))
        # The last per-second sample: seconds, resident KB, CPU %, decoded, ...
        last=$(tail -n 1 "$out/samples.csv" 2>/dev/null || true)
        echo "$last" | awk -F, -v e="$elapsed" -v d="$drops" '{ printf "soak.sh: %d s: " \
            "connection dropped (%d); resident %d KB, cpu %.1f %%, decoded %d, dropped %d\n",
            e, d, $2, $3, $4, $6 }'
    fi
done
status=0
wait "$soak_pid" || status=$?
soak_pid=""
stop_sim

sed -n '/^soak summary/,$p' "$out/soak.log"
echo "  connection drops (simulator restarted): $drops"
grep "summary:" "$out/sim.log" | awk '{
    for (i = 1; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "frames") f += kv[2];
        if (kv[1] == "connections") c += kv[2] } }
    END { printf "  simulator: %d connections, %d frames sent over %d runs\n", c, f, NR }'
echo "  viewer exit status $status; samples in $out/samples.csv"
exit "$status"
