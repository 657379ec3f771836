#!/bin/sh
# Checks kavrel-sim's ONVIF device against a widely used ONVIF client, the npm
# package "onvif" (installed into a temporary folder; needs the network).
# Not part of the test command. Usage: check_sim.sh BUILD_DIR
#   BUILD_DIR holds tools/kavrel-sim (default: build).
# Starts kavrel-sim with the ONVIF options and tools/rtsp/rtsp_server.py (the
# stream URIs point at it), runs check.js, prints the device's request log.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d)
sim_pid= rtsp_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "$rtsp_pid" ] && kill "$rtsp_pid" 2>/dev/null && wait "$rtsp_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

(cd "$work" && npm init -y >/dev/null && npm install --no-audit --no-fund onvif >/dev/null) || {
  echo "cannot install the npm package onvif (registry unreachable?)" >&2
  exit 2
}
echo "onvif package $(node -p "require('$work/node_modules/onvif/package.json').version")"

sh "$root/tools/rtsp/make_clips.sh" "$work/clips" >/dev/null
mkfifo "$work/rtsp.out"
/usr/bin/python3 "$root/tools/rtsp/rtsp_server.py" --port 0 --clips "$work/clips" \
  <"$work/rtsp.out" >"$work/rtsp.log" 2>&1 &
rtsp_pid=$!
exec 3>"$work/rtsp.out"  # keeps the server's stdin open
i=0
until rtsp_port=$(sed -n 's/^ready \([0-9]*\)$/\1/p' "$work/rtsp.log") && [ -n "$rtsp_port" ]; do
  i=$((i + 1)); [ $i -gt 100 ] && { echo "rtsp server did not start" >&2; cat "$work/rtsp.log"; exit 1; }
  sleep 0.1
done

discovery=unicast
port_args="--discovery-port 0"
if [ "${KAVREL_CHECK_MULTICAST:-0}" = 1 ]; then
  discovery=multicast
  port_args="--discovery-port 3702 --discovery-multicast"
fi
"$build/tools/kavrel-sim" --port 0 --onvif-port 0 --user admin --password secret \
  --onvif-main "rtsp://127.0.0.1:$rtsp_port/h264-d1" --onvif-sub "rtsp://127.0.0.1:$rtsp_port/h264" \
  --onvif-clock-offset 3600 --onvif-log "$work/onvif.log" $port_args \
  >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
i=0
until onvif_port=$(sed -n 's/^kavrel-sim onvif on 127.0.0.1:\([0-9]*\)$/\1/p' "$work/sim.out") && [ -n "$onvif_port" ]; do
  i=$((i + 1)); [ $i -gt 100 ] && { echo "kavrel-sim did not start" >&2; cat "$work/sim.err"; exit 1; }
  sleep 0.1
done

status=0
(cd "$work" && NODE_PATH="$work/node_modules" node "$here/check.js" 127.0.0.1 "$onvif_port" admin secret "$discovery") || status=$?
echo "--- the device's request log"
cat "$work/onvif.log"
exit $status
