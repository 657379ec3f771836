#!/bin/sh
# Wall soak with faults: a 4x4 camera wall (kavrel-soak --wall, 16 tiles of
# D1 704x576 at 25 fps) over two kavrel-sim servers of 8 channels each, for
# an hour by default, while a schedule strikes the servers again and again:
#   restart   server A is stopped and started again on its port 5 s later;
#   silent    server A stops sending without closing (SIGSTOP) for 20 s,
#             then goes on (SIGCONT);
#   link      server B's link (kavrel-linkem between two network namespaces)
#             drops 5 % of the packets and delays them 300 ms for 30 s;
#   refuse    server B is restarted with --fault refuse-login for 30 s, then
#             restarted as it was.
# The faults come at 5 %, 25 %, 45 % and 75 % of each cycle (default 600 s,
# at least 180 s, which leaves 20 s after each fault's end before the next);
# none starts later than 60 s before the end. Each fault's
# start and "back" time (the moment the server serves again) go to
# faults.log, the viewer's per-second samples to samples.csv.
#
# A refused login is a state the viewer does not retry (a wrong password).
# A user who sees such a tile presses Play again until it plays: kavrel-soak
# presses the wall's Play every 5 s for the tiles standing stopped, so a
# refused tile shows pictures again within about 5 s of its server accepting.
#
# The verdict, one line per criterion with the measured value and its limit:
#   memory growth after the settling time (default 300 s): least-squares
#     slope of the resident memory, under 5 MB per hour;
#   threads and open descriptors 20 s after each fault's "back" no more than
#     just before its start;
#   the longest time a tile was without a picture, counted from its server's
#     last "back" (the start counts as one), at most 15 s;
#   the user-interface thread late by at most 50 ms (a 10 ms timer).
# After it, notes (which do not change the verdict) say what the machine
# itself lost: time the host took (steal.log) and stretches in which every
# CPU stood still at once (clockwatch.log, from kavrel-clockwatch).
#
#   bench/soak_wall.sh [--minutes N | --seconds N] [--cycle S] [--settle S]
#                      [--build DIR] [--no-build] [--port PORT] [--offscreen]
#                      [--out DIR]
#
# The viewer shows a real window on an Xvfb display this script starts (when
# Xvfb is installed, else offscreen, or with --offscreen). Server B sits
# behind the link emulator when run as root with /dev/net/tun (else on
# 127.0.0.1 with no link fault). Servers listen on PORT and PORT + 1
# (default 38700). Needs ffmpeg for the D1 stream (else the simulator
# generates it, which costs more CPU).
# Exit status: 0 when every criterion passes, 1 when one fails or a part
# cannot be started, 2 for bad options.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

seconds=3600
cycle=600
settle=300
build="$root/build"
do_build=1
port=38700
offscreen=0
out=""
while [ $# -gt 0 ]; do
    case "$1" in
        --minutes) seconds=$(($2 * 60)); shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --cycle) cycle=$2; shift 2 ;;
        --settle) settle=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --no-build) do_build=0; shift ;;
        --port) port=$2; shift 2 ;;
        --offscreen) offscreen=1; shift ;;
        --out) out=$2; shift 2 ;;
        -h|--help) awk 'NR > 1 && /^#/ { print } /^set -eu/ { exit }' "$0"; exit 0 ;;
        *) echo "soak_wall.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
[ "$cycle" -ge 180 ] || { echo "soak_wall.sh: --cycle wants at least 180 s" >&2; exit 2; }
[ -n "$out" ] || out=$(mktemp -d /tmp/kavrel-soak-wall.XXXXXX)
mkdir -p "$out"

if [ "$do_build" = 1 ]; then
    [ -f "$build/CMakeCache.txt" ] ||
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target kavrel-sim kavrel-soak kavrel-linkem kavrel-clockwatch >/dev/null
fi
sim="$build/tools/kavrel-sim"
soak="$build/bench/soak/kavrel-soak"
linkem="$build/bench/soak/kavrel-linkem"
clockwatch="$build/bench/soak/kavrel-clockwatch"
[ -x "$sim" ] && [ -x "$soak" ] || { echo "soak_wall.sh: $sim or $soak missing" >&2; exit 2; }

ns=kavrel-wall
port_a=$port
port_b=$((port + 1))
address_a=127.0.0.1
address_b=127.0.0.1
prefix_b=""
pid_a=""
pid_b=""
soak_pid=""
linkem_pid=""
xvfb_pid=""
steal_pid=""
watch_pid=""
cleanup() {
    [ -z "$steal_pid" ] || kill "$steal_pid" 2>/dev/null || true
    [ -z "$watch_pid" ] || kill "$watch_pid" 2>/dev/null || true
    for pid in "$soak_pid" "$pid_a" "$pid_b"; do
        [ -z "$pid" ] || kill -CONT "$pid" 2>/dev/null || true
        [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "$soak_pid" "$pid_a" "$pid_b"; do
        [ -z "$pid" ] || wait "$pid" 2>/dev/null || true
    done
    if [ -n "$linkem_pid" ]; then
        kill -TERM "$linkem_pid" 2>/dev/null || true
        wait "$linkem_pid" 2>/dev/null || true
        ip netns del "$ns" 2>/dev/null || true
    fi
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The link: server B in a namespace of its own behind kavrel-linkem, clear
# until the link fault impairs it (SIGUSR1) and clears it again (SIGUSR2).
if [ "$(id -u)" -eq 0 ] && [ -c /dev/net/tun ] && [ -x "$linkem" ] && command -v ip >/dev/null; then
    ip netns del "$ns" 2>/dev/null || true
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    "$linkem" --netns "$ns" --near kvw0 --far kvw1 --delay-ms 300 --loss-percent 5 \
        --start-clear 1 >"$out/linkem.log" 2>&1 &
    linkem_pid=$!
    waited=0
    until grep -q "ready" "$out/linkem.log"; do
        kill -0 "$linkem_pid" 2>/dev/null && [ $waited -lt 100 ] ||
            { cat "$out/linkem.log" >&2; exit 1; }
        sleep 0.1
        waited=$((waited + 1))
    done
    ip addr add 10.213.9.1/30 dev kvw0
    ip -n "$ns" addr add 10.213.9.2/30 dev kvw1
    ip link set kvw0 up
    ip -n "$ns" link set kvw1 up
    address_b=10.213.9.2
    prefix_b="ip netns exec $ns"
fi

# The servers' stream: D1 25, GOP 25, every frame under 64 KB.
picture="--size 704x576 --fps 25 --bitrate 1500000 --gop 25"
if command -v ffmpeg >/dev/null; then
    ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=704x576:rate=25 -t 10 \
        -c:v libx264 -preset veryfast -b:v 1500k -maxrate 1500k -bufsize 400k -g 25 -bf 0 \
        -pix_fmt yuv420p -f h264 -y "$out/d1.h264"
    picture="--file $out/d1.h264"
fi

# start_sim NAME [FAULT OPTIONS...]: starts server NAME (a or b), waits for
# its new "listening" line and sets pid_NAME.
start_sim() {
    name=$1
    shift
    if [ "$name" = a ]; then where="--address $address_a --port $port_a"; pre=""
    else where="--address $address_b --port $port_b"; pre=$prefix_b; fi
    before=$(grep -c "listening" "$out/sim-$name.out" 2>/dev/null || true)
    # shellcheck disable=SC2086  # option lists
    $pre "$sim" $where --channels 8 --max-connections 32 $picture "$@" \
        >>"$out/sim-$name.out" 2>>"$out/sim-$name.log" &
    eval "pid_$name=\$!"
    waited=0
    while [ "$(grep -c "listening" "$out/sim-$name.out" 2>/dev/null || true)" -le "${before:-0}" ]; do
        if [ $waited -ge 300 ]; then
            echo "soak_wall.sh: kavrel-sim $name did not start (see $out/sim-$name.log)" >&2
            exit 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
}
stop_sim() {
    eval "pid=\$pid_$1"
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
now() { date +%s.%N | cut -c1-14; }
mark() { echo "$1 $2 $3 $(now)" >>"$out/faults.log"; }  # start|back NAME SERVER

start_sim a
start_sim b

platform=offscreen
if [ "$offscreen" = 0 ] && command -v Xvfb >/dev/null; then
    display=:$((port % 1000 + 100))
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
    xvfb_pid=$!
    sleep 1
    if kill -0 "$xvfb_pid" 2>/dev/null; then
        platform=xcb
        export DISPLAY="$display"
    else
        xvfb_pid=""
    fi
fi
echo "soak_wall.sh: ${seconds} s, cycle ${cycle} s, 16 x D1 25 over A $address_a:$port_a" \
    "and B $address_b:$port_b$([ -n "$linkem_pid" ] && echo " (behind kavrel-linkem)")," \
    "window on $platform; logs in $out"
: >"$out/faults.log"
# The host can also freeze this machine's CPUs without counting it as steal:
# kavrel-clockwatch (first in line as root) logs every stretch a CPU did not
# run at all to clockwatch.log.
if [ -x "$clockwatch" ]; then
    "$clockwatch" >"$out/clockwatch.log" 2>"$out/clockwatch.stderr" &
    watch_pid=$!
fi
QT_QPA_PLATFORM=$platform "$soak" --wall "$address_a:$port_a,$address_b:$port_b" \
    --seconds "$seconds" --samples "$out/samples.csv" >"$out/soak.log" 2>"$out/soak.stderr" &
soak_pid=$!
started=$(date +%s)
# The CPU time the host took from this virtual machine (steal, in clock
# ticks since boot), once a second: "epoch ticks".
while kill -0 "$soak_pid" 2>/dev/null; do
    echo "$(date +%s) $(awk '/^cpu /{print $9}' /proc/stat)"
    sleep 1
done >"$out/steal.log" 2>/dev/null &
steal_pid=$!

# Waits until T s after the start; false when the viewer ended.
until_at() {
    while [ $(($(date +%s) - started)) -lt "$1" ]; do
        kill -0 "$soak_pid" 2>/dev/null || return 1
        sleep 0.2
    done
}
last_start=$((seconds - 60))
base=0
while kill -0 "$soak_pid" 2>/dev/null; do
    at=$((base + cycle / 20))
    [ $at -le $last_start ] || break
    until_at $at || break
    mark start restart a; stop_sim a; sleep 5; start_sim a; mark back restart a

    at=$((base + cycle / 4))
    [ $at -le $last_start ] || break
    until_at $at || break
    mark start silent a; kill -STOP "$pid_a"; sleep 20; kill -CONT "$pid_a"; mark back silent a

    at=$((base + cycle * 9 / 20))
    if [ -n "$linkem_pid" ]; then
        [ $at -le $last_start ] || break
        until_at $at || break
        mark start link b; kill -USR1 "$linkem_pid"; sleep 30
        kill -USR2 "$linkem_pid"; mark back link b
    fi

    at=$((base + cycle * 3 / 4))
    [ $at -le $last_start ] || break
    until_at $at || break
    mark start refuse b; stop_sim b; start_sim b --fault refuse-login; sleep 30
    stop_sim b; start_sim b; mark back refuse b
    base=$((base + cycle))
done
status=0
wait "$soak_pid" || status=$?
soak_pid=""
cat "$out/soak.log"

# The verdict, from samples.csv (epoch, seconds, resident_kb, threads, fds,
# cpu_percent, ui_late_ms, plays, age0..age15 in ms, -1 before a first
# picture) and faults.log (start|back NAME SERVER EPOCH). Tile i plays on
# server i mod 2 (a, b).
awk -v settle="$settle" -v viewer="$status" '
    FILENAME == ARGV[1] { kind[++faults] = $2; server[faults] = $3; start[faults] = $4
                getline; back[faults] = $4; next }
    FNR == 1 { next }
    {
        t = $1 + 0; n++
        if (n == 1) { first = t; lastBack["a"] = t; lastBack["b"] = t }
        T[n] = t; threads[n] = $4; fds[n] = $5; cpu += $6
        if ($7 > late) late = $7
        if ($2 >= settle) { sx += $2; sy += $3; sxx += $2 * $2; sxy += $2 * $3; m++ }
        for (f = 1; f <= faults; f++) if (back[f] <= t) lastBack[server[f]] = back[f]
        for (i = 0; i < 16; i++) {
            s = (i % 2 == 0) ? "a" : "b"
            down = 0
            for (f = 1; f <= faults; f++) if (server[f] == s && start[f] <= t && t < back[f]) down = 1
            if (down) continue
            since = t - lastBack[s]
            age = $(9 + i); gap = (age < 0 || age / 1000 > since) ? since : age / 1000
            if (gap > worstGap) { worstGap = gap; worstTile = i; worstAt = t - first }
        }
    }
    function at(when,   k) { for (k = 1; k <= n; k++) if (T[k] >= when) return k; return 0 }
    END {
        slope = (m > 1) ? (m * sxy - sx * sy) / (m * sxx - sx * sx) : 0
        growth = slope * 3600 / 1024
        threadWorst = -1e9; fdWorst = -1e9; checked = 0
        for (f = 1; f <= faults; f++) {
            b = at(start[f]) - 1; a = at(back[f] + 20)
            if (b < 1 || a < 1) continue
            checked++
            printf "  fault %-8s on %s at %5.0f s, back at %5.0f s: threads %d -> %d, descriptors %d -> %d\n",
                kind[f], server[f], start[f] - first, back[f] - first, threads[b], threads[a], fds[b], fds[a]
            if (threads[a] - threads[b] > threadWorst) threadWorst = threads[a] - threads[b]
            if (fds[a] - fds[b] > fdWorst) fdWorst = fds[a] - fds[b]
        }
        if (!checked) { threadWorst = 0; fdWorst = 0 }
        fail = 0
        printf "%-58s %14s %12s %s\n", "criterion", "measured", "limit", "verdict"
        line("memory growth after " settle " s (RSS slope, " m " samples)", sprintf("%+.2f MB/h", growth), "< 5 MB/h", growth < 5 && m > 1)
        line("threads 20 s after back vs before (" checked " faults)", sprintf("%+d", threadWorst), "<= +0", threadWorst <= 0)
        line("descriptors 20 s after back vs before (" checked " faults)", sprintf("%+d", fdWorst), "<= +0", fdWorst <= 0)
        line(sprintf("longest tile without a picture after back (tile %d, %.0f s)", worstTile, worstAt),
             sprintf("%.1f s", worstGap), "<= 15 s", worstGap <= 15)
        line("user-interface thread lateness, worst", late " ms", "<= 50 ms", late <= 50)
        line("viewer run (" n " samples, mean CPU " sprintf("%.0f", n ? cpu / n : 0) " %)", "exit " viewer, "exit 0", viewer == 0 && n > 0)
        exit fail
    }
    function line(name, value, limit, ok) {
        printf "%-58s %14s %12s %s\n", name, value, limit, ok ? "PASS" : "FAIL"
        if (!ok) fail = 1
    }' "$out/faults.log" FS=, "$out/samples.csv" || verdict=$?

# A virtual machine that its host stands still (a snapshot, a migration) shows
# as the wall clock leaping ahead of the soak's monotonic one. The verdict
# stands as measured; these lines say when, so that a late user-interface
# thread or a CPU spike there is read as the machine's and not the viewer's.
awk -F, 'FNR > 1 {
        offset = $1 - $2
        if (FNR > 2 && offset - previous > 0.25)
            printf "note: at %.0f s the wall clock leapt %.2f s ahead of the soak'"'"'s: the machine stood still (or its clock was set)\n", $2, offset - previous
        previous = offset
    }' "$out/samples.csv"

# A host that takes the CPU from this machine (steal) delays every thread of
# it, the user-interface thread too. The verdict stands as measured; these
# lines say how much the host took at the worst lateness (the most it took in
# the second of the sample or the one before or after: the two clocks are not
# in step), and the worst lateness where it took at most one clock tick in
# those seconds. A share alone does not clear the host: a few percent of a
# second can be one stretch of 40 ms.
awk -v hz="$(getconf CLK_TCK)" -v cpus="$(nproc)" '
    FILENAME == ARGV[1] { ticks[$1] = $2; next }
    FNR == 1 { next }
    {
        t = int($1); worst = -1
        for (s = t - 1; s <= t + 1; s++)
            if ((s in ticks) && ((s - 1) in ticks) && ticks[s] - ticks[s - 1] > worst)
                worst = ticks[s] - ticks[s - 1]
        if (worst < 0) next
        share = 100 * worst / (hz * cpus)
        if (share > most) most = share
        if (share >= 5) busy++
        if ($7 + 0 > late) { late = $7 + 0; lateAt = $2; lateShare = share }
        if (worst <= 1) { quiet++; if ($7 + 0 > calm) calm = $7 + 0 }
        seen++
    }
    END {
        if (!seen) exit
        printf "note: the host took over 5 %% of the CPU around %d of %d samples, at most %.0f %%\n", busy, seen, most
        printf "note: the worst lateness, %d ms at %.0f s, came as the host took %.0f %%\n", late, lateAt, lateShare
        if (quiet)
            printf "note: in the %d samples where the host took at most one tick (%d ms) a second, the worst lateness: %d ms\n", quiet, 1000 / hz, calm
    }' "$out/steal.log" FS=, "$out/samples.csv"

# A stretch in which every CPU of the machine stood still at once (the host
# froze it, and counted none of it as steal) makes the user-interface thread
# that long late, and nothing in the viewer can help it. The verdict stands as
# measured; these lines say how often the machine stood still, what stood at
# the worst lateness, and the worst lateness in the seconds where it never
# stood still (a sample's lateness is its second's: a stop that ended in it or
# up to 0.2 s either side counts, as the two clocks are not in step).
if [ -n "$watch_pid" ]; then
    kill "$watch_pid" 2>/dev/null || true
    wait "$watch_pid" 2>/dev/null || true
    watch_pid=""
    # Watched from a normal place in the queue, it is late whenever the machine
    # is busy, and its stops mean nothing.
    if grep -q "cannot run first" "$out/clockwatch.stderr"; then
        echo "note: kavrel-clockwatch could not run first (not root?): no notes on stops"
    else
        awk '
            FILENAME == ARGV[1] { if ($2 == "watching") for (f = 4; f <= NF; f++) cpu[++cpus] = $f; next }
            FILENAME == ARGV[2] { c = $1; k = ++n[c]; from[c, k] = $2; to[c, k] = $2 + $3 / 1000; next }
            FNR == 1 {
                # A stop: a late stretch of the first CPU that every other CPU shares.
                first = cpu[1]
                for (i = 1; i <= n[first]; i++) {
                    lo = from[first, i]; hi = to[first, i]; shared = 1
                    for (w = 2; w <= cpus && shared; w++) {
                        c = cpu[w]; best = 0
                        for (j = 1; j <= n[c]; j++) {
                            a = from[c, j] > lo ? from[c, j] : lo
                            b = to[c, j] < hi ? to[c, j] : hi
                            if (b - a > best) { best = b - a; bestLo = a; bestHi = b }
                        }
                        if (best <= 0) shared = 0; else { lo = bestLo; hi = bestHi }
                    }
                    if (shared && hi - lo >= 0.005) { stopEnd[++stops] = hi; stopMs[stops] = (hi - lo) * 1000 }
                }
                next
            }
            {
                stood = 0
                for (i = 1; i <= stops; i++)
                    if (stopEnd[i] > $1 - 1.2 && stopEnd[i] <= $1 + 0.2 && stopMs[i] > stood) stood = stopMs[i]
                if ($7 + 0 > late) { late = $7 + 0; lateAt = $2; lateStood = stood }
                if (stood == 0) { still++; if ($7 + 0 > calm) calm = $7 + 0 }
                seen++
            }
            END {
                if (!seen) exit
                longest = 0; total = 0
                for (i = 1; i <= stops; i++) { total += stopMs[i]; if (stopMs[i] > longest) longest = stopMs[i] }
                printf "note: the machine stood still (every CPU at once) %s for 5 ms or more, at most %.0f ms, %.0f ms in all\n",
                    stops == 1 ? "once" : (stops + 0) " times", longest, total
                printf "note: the worst lateness, %d ms at %.0f s, came %s\n", late, lateAt,
                    lateStood ? sprintf("as the machine stood still for %.0f ms", lateStood) : "with the machine running"
                printf "note: in the %d samples in whose second the machine never stood still, the worst lateness: %d ms\n", still, calm
            }' "$out/clockwatch.stderr" "$out/clockwatch.log" FS=, "$out/samples.csv"
    fi
else
    # A build tree from before the watch (--no-build): say so, rather than
    # leave the reader to take no notes for no stops.
    echo "note: no $clockwatch: no notes on stops"
fi
exit "${verdict:-0}"
