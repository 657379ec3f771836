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

# One slice a picture, no B-frames: a key frame starts every second (also where
# the loop starts again), and decoding order is presentation order.
encode() { # name size rate frames codec-options...
  name=$1 size=$2 rate=$3 frames=$4
  shift 4
  [ -s "$out/$name" ] && return 0
  ffmpeg -nostdin -v error -y -f lavfi -i "${pattern}size=$size:rate=$rate" \
    -frames:v "$frames" -pix_fmt yuv420p -bf 0 "$@" "$out/$name.part"
  mv "$out/$name.part" "$out/$name"
}
x264() { # rate
  echo -c:v libx264 -preset ultrafast -threads 1 -g "$1" -keyint_min "$1" -sc_threshold 0 -f h264
}
x265() { # rate
  echo -c:v libx265 -preset ultrafast \
    -x265-params "keyint=$1:min-keyint=$1:scenecut=0:bframes=0:frame-threads=1:pools=none:log-level=error" \
    -f hevc
}

pattern="testsrc2="
encode h264.h264 352x288 25 100 $(x264 25)
encode h265.h265 352x288 25 100 $(x265 25)
encode h264-d1.h264 704x576 25 100 $(x264 25)
encode h265-d1.h265 704x576 25 100 $(x265 25)
# 8192x4368 is one row of macroblocks more than the largest level allows. A
# plain picture keeps it small and quick to make: two frames, one a second.
pattern="color=c=gray:"
encode oversize.h264 8192x4368 2 2 $(x264 2)
