#!/bin/sh
# Installs every Debian package the project needs (skipping what is there),
# then configures and builds the default tree in build/.
# Works as root and through sudo.  Usage: scripts/setup.sh [--no-build]
set -eu

PACKAGES="build-essential cmake ninja-build pkg-config clang-format \
qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev \
libavcodec-dev libavutil-dev libavformat-dev libswscale-dev libyuv-dev ffmpeg \
libgtest-dev libgmock-dev googletest libbenchmark-dev \
fonts-liberation clang libclang-rt-14-dev llvm iproute2 \
desktop-file-utils appstream dpkg-dev file \
python3-gi gir1.2-gstreamer-1.0 gir1.2-gst-plugins-base-1.0 gir1.2-gst-rtsp-server-1.0 \
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done
# libx264 is what the simulator and the tests encode with; it comes with
# libavcodec's runtime package on Debian (libavcodec59 links libx264).
# The GStreamer packages are the RTSP test server's (tools/rtsp): rtsp-server
# and its Python bindings (run by /usr/bin/python3), the file source, the
# payloaders and rtpbin (good), the H.264 / H.265 parsers (bad).

if [ -n "$missing" ]; then
  if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
  echo "setup: installing:$missing"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi

if [ "${1:-}" = "--no-build" ]; then exit 0; fi

root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build"
