#!/bin/sh
# How long the viewer's window stops answering in the cases that used to
# freeze it: Play against a port that drops connection requests, Play against
# a host name whose lookup never answers, the video watchdog's restart, the
# settings dialog closing with a full history, PTZ clicks against a server
# that answered the login and then stopped reading, and Stop pressed while a
# 1080p snapshot is being written (to the local disk, and to a folder that
# takes 500 ms per file, as one on a network may). Prints the largest
# lateness of a 10 ms timer on the user-interface thread for each (goal: at
# most 50 ms).
#
# The lookup case needs root: the bench then runs in mount and network
# namespaces of its own, with a resolv.conf that names 127.0.0.1 as its only
# name server, where a socket takes every query and answers none (30 s
# time-out). Without root that case is skipped.
#
# Usage: bench/ui_stall.sh [build folder]   (default: build, configured with benches)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bench="$build/bench/stall/kavrel-stallbench"
[ -x "$bench" ] || { echo "ui_stall.sh: no $bench (build with KAVREL_BUILD_BENCH=ON)" >&2; exit 2; }
set -- --sim "$build/tools/kavrel-sim" --config "$root/res/config.txt"

if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && [ -z "${KAVREL_STALL_INSIDE:-}" ]; then
    exec env KAVREL_STALL_INSIDE=1 unshare --mount --net sh "$0" "$build"
fi
if [ -n "${KAVREL_STALL_INSIDE:-}" ]; then
    ip link set lo up
    conf=$(mktemp)
    trap 'rm -f "$conf"' EXIT
    printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:1\n' >"$conf"
    mount --bind "$conf" /etc/resolv.conf
    set -- "$@" --silent-name-server yes --lookup-host camera.kavrel.test
fi
QT_QPA_PLATFORM=offscreen "$bench" "$@"
