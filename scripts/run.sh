#!/bin/sh
# Installs what is missing, builds the viewer and the bundled simulated camera
# server (only those two, not the tests), starts the simulator on 127.0.0.1
# and the viewer playing it at once; both stop together.
# KAVREL_SIM_PORT chooses the port (default 37777); extra arguments go to the
# simulator (see tools/README.md), e.g. scripts/run.sh --channels 8.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh --no-build
# Configured as scripts/setup.sh configures it, so either builds on the other's tree.
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" --target kavrel kavrel-sim
port=${KAVREL_SIM_PORT:-37777}
bin="$root/build"

"$bin/tools/kavrel-sim" --address 127.0.0.1 --port "$port" "$@" &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT INT TERM

config="$bin/app/config.txt"
# The viewer starts with the server kept in its config.txt. On a first run there
# is none: point it at the simulator (the simulator's default login).
if [ -f "$config" ] && ! grep -q '^\[server\]' "$config"; then
    printf '[server]\nserver_address=127.0.0.1\nserver_port=%s\nserver_username=admin\nserver_password=admin\nserver_channel=0\n' \
        "$port" >> "$config"
fi
# Pictures at once: the simulator is the server just written (or the one the
# user chose since), so Play needs no click.
"$bin/app/kavrel" --play
