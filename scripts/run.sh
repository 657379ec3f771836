#!/bin/sh
# Sets everything up, starts the bundled simulated camera server on
# 127.0.0.1 and the viewer pointed at it; both stop together.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
port=${KAVREL_SIM_PORT:-37777}
bin="$root/build"

if [ ! -x "$bin/tools/kavrel-sim" ]; then
    echo "run: the simulated server is not built yet" >&2
    exit 1
fi
"$bin/tools/kavrel-sim" --address 127.0.0.1 --port "$port" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT INT TERM

if [ -x "$bin/app/kavrel" ]; then
    # Point the viewer at the simulator unless the user saved a server already.
    "$bin/tools/kavrel-sim" --print-config-server 127.0.0.1 "$port" "$bin/app/config.txt" || true
    "$bin/app/kavrel"
else
    echo "run: the viewer is not built yet; the simulator runs until Ctrl-C" >&2
    wait $sim
fi
