#!/bin/sh
# Makes the clips tools/rtsp/rtsp_server.py serves, into the folder given
# (created if missing): H.264 and H.265 elementary streams of a moving test
# pattern at 25 fps with a key frame every second, four seconds each, at CIF
# (352x288) and D1 (704x576), and one H.264 stream whose pictures are larger
# than the largest H.264 level (8192x4352 pixels), which the viewer refuses.
# Each clip is served at /<its name without extension>:
#   h264.h264  h265.h265  h264-d1.h264  h265-d1.h265  oversize.h264
# A clip already there is kept. Needs ffmpeg with libx264 and libx265.
# Usage: make_clips.sh FOLDER
set -eu

if [ $# -ne 1 ]; then
  echo "usage: $0 FOLDER" >&2
  exit 2
fi
out=$1
mkdir -p "$out"

# One slice a picture, no B-frames, parameter sets before every key frame: an
# IDR picture starts every second (also where the loop starts again), and
# decoding order is presentation order.
encode() { # name size rate frames codec-options...
  name=$1 size=$2 rate=$3 frames=$4
  shift 4
  [ -s "$out/$name" ] && return 0
  ffmpeg -nostdin -v error -y -f lavfi -i "${pattern}size=$size:rate=$rate" \
    -frames:v "$frames" -pix_fmt yuv420p -bf 0 "$@" "$out/$name.part"
  mv "$out/$name.part" "$out/$name"
}
# name size rate frames: a key frame every `rate` frames, i.e. every second.
h264() {
  encode "$1" "$2" "$3" "$4" -c:v libx264 -preset ultrafast -threads 1 \
    -g "$3" -keyint_min "$3" -sc_threshold 0 -f h264
}
h265() {
  encode "$1" "$2" "$3" "$4" -c:v libx265 -preset ultrafast -f hevc -x265-params \
    "keyint=$3:min-keyint=$3:scenecut=0:open-gop=0:bframes=0:repeat-headers=1:frame-threads=1:pools=none:log-level=error"
}

pattern="testsrc2="
h264 h264.h264 352x288 25 100
h265 h265.h265 352x288 25 100
h264 h264-d1.h264 704x576 25 100
h265 h265-d1.h265 704x576 25 100
# 8192x4368 is one row of macroblocks more than the largest level allows. A
# plain picture keeps it small and quick to make: two frames, one a second.
pattern="color=c=gray:"
h264 oversize.h264 8192x4368 2 2
