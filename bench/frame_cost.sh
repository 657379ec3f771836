#!/bin/bash
# What showing a 1080p25 stream costs the viewer, beside what the ffmpeg
# command line spends to decode the same stream with one thread to rgb565le,
# measured in one run, alternating, ROUNDS times (default 3):
#   (a) the viewer's CPU per frame (every thread of the process, main window
#       shown offscreen at 480x640) / ffmpeg's CPU per frame: goal <= 0.9;
#   (b) with perf (where it may profile): the share of the viewer's samples
#       outside libavcodec while it plays: goal <= 15 %;
#   (c) the viewer's resident memory while playing 1080p: goal <= 80 MB;
#   (d) the quad view: CPU per second for four 720p25 tiles against the one
#       1080p25 single view, and the resident memory with four tiles
#       (goal: under 150 MB);
#   (h) (a) for an H.265 1080p25 stream (libx265) served the same way.
#   (e) recording: CPU per second of the 1080p25 view while it records a clip
#       against the same view not recording, alternating (goal: under 2 % more).
#   (s) the sizes servers of this protocol send: CIF 352x288 at 512 kbit/s and
#       D1 704x576 at 1.5 Mbit/s (25 fps, every frame under 64 KB), the
#       viewer's CPU per frame over 20 s at 480x640 against ffmpeg's over a
#       60 s clip (so its start-up does not count): goal <= 1.3 (CIF) and
#       <= 1.1 (D1). Each round also runs the viewer gathering every shown
#       pixel (--gather 1), the conversion it had before, beside the current
#       one (KAVREL_BENCH_GATHER=0 leaves that out).
#   (v) with mpv installed (or installable with apt-get as root): mpv showing
#       the same CIF and D1 clips in a window of the size the viewer shows
#       the picture at (--vo=x11 --hwdec=no --vd-lavc-threads=1), CPU per
#       frame beside the viewer's, start-up left out; needs a real X display
#       (KAVREL_BENCH_PLATFORM=xcb) and line s. Runs only when asked for by
#       letter ("sv").
#   A wall of tiles in a 1920x1080 window (kavrel-wallbench), each tile a
#   session of its own, pictures kept in their aspect; each line with the
#   loop filter skipped for small tiles and without, once (ROUNDS ignored):
#   (w) 16 x D1 25 (704x576, 1.5 Mbit/s): every tile 25 fps, the process at
#       most 350 ms of CPU per second and 130 MB resident;
#   (x) 16 x 720p25 at 1 Mbit/s: every tile 25 fps under one core;
#   (y) 9 x D1 25;
#   (z) 16 x D1 25 overloaded (30 ms of busy work added to every decode):
#       every tile still shows a picture at least once a second (GOP 25), and
#       the window's 20 ms timer stays punctual.
#   (r) 9 x D1 25 over RTSP (the project's GStreamer test server, RTP
#       interleaved over TCP) against the same wall over the camera protocol
#       (kavrel-sim), the same stream, alternating ROUNDS times: CPU per
#       second side by side; goal: RTSP within 10 %.
#   (l) latency, as the session measures it: from a frame's arrival to the
#       paint that shows its picture, median and 95th percentile over 30 s of
#       a D1 25 stream (704x576, ~1.5 Mbit/s, frames under 64 KB); goal: the
#       median at most the mean decode time + 15 ms.
#   (m) drift: the same stream for 10 minutes; the 95th percentile of the
#       last minute within 20 % of the first minute's, and the deepest queue.
#   (p) what the paint costs apart from decoding (kavrel-paintbench): a 415x340
#       picture 25 times a second handed to the user-interface thread and
#       painted through Qt's widget paint as the viewer does, against the
#       same picture put straight from shared memory into the window (the
#       least copying the X server allows), alternating ROUNDS times, then 16
#       tiles of 330x270 once each way: CPU per picture of the user-interface
#       thread and of Qt's X event thread, and of the X server when it is
#       this user's; needs a real X display (KAVREL_BENCH_PLATFORM=xcb).
#   (l, m, p and v run only when asked for by letter: "l", "m", "abcdhl" ...)
# The stream is made with ffmpeg (libx264, testsrc2, 10 s) and served by
# kavrel-sim --file, so both decode the same bytes.
#
# Usage: bench/frame_cost.sh [build folder] [rounds] [lines]
#   (build folder default: build, configured with KAVREL_BUILD_BENCH=ON; it
#   installs ffmpeg with apt-get when missing and run as root; lines: the
#   letters of the lines to measure, default all, e.g. "h" for H.265 alone on
#   a machine too busy to spend minutes on the rest)
#
# Environment:
#   KAVREL_BENCH_PLATFORM  the viewer's Qt platform: offscreen (the default)
#                          or xcb, a real window on $DISPLAY (an X server,
#                          Xvfb will do), where every paint reaches the server
#   KAVREL_BENCH_BASE      a second build folder (an older commit, say): its
#                          viewer runs beside this one in every round of the
#                          lines s, w and e, alternating, so that a change is
#                          measured before and after on the same machine in
#                          the same minutes ("base" in the output)
#   KAVREL_BENCH_GATHER    0: line s leaves out the per-pixel gather run
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
rounds=${2:-3}
lines=${3:-abcdehswxyzr}
platform=${KAVREL_BENCH_PLATFORM:-offscreen}
base=""
if [ -n "${KAVREL_BENCH_BASE:-}" ]; then
    base=$(cd "$KAVREL_BENCH_BASE" && pwd)
    [ -x "$base/bench/frame/kavrel-framebench" ] ||
        { echo "frame_cost.sh: no $base/bench/frame/kavrel-framebench" >&2; exit 2; }
fi
gather=${KAVREL_BENCH_GATHER:-1}
if [ "$platform" = xcb ] && [ -z "${DISPLAY:-}" ]; then
    echo "frame_cost.sh: KAVREL_BENCH_PLATFORM=xcb needs DISPLAY (an X server)" >&2; exit 2
fi
want() { case "$lines" in *"$1"*) return 0 ;; *) return 1 ;; esac; }
bench="$build/bench/frame/kavrel-framebench"
sim="$build/tools/kavrel-sim"
[ -x "$bench" ] || { echo "frame_cost.sh: no $bench (build with KAVREL_BUILD_BENCH=ON)" >&2; exit 2; }
if ! command -v ffmpeg >/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get install -y --no-install-recommends ffmpeg >/dev/null
    else
        echo "frame_cost.sh: needs ffmpeg (apt-get install ffmpeg)" >&2; exit 2
    fi
fi

work=$(mktemp -d)
simpid=""
# Every simulator a line started, stopped however the script ends.
simpid265=""
wallsims=""
simd1pid=""
smallsim=""
sim4pid=""
cleanup() {
    for pid in $simpid $simpid265 $wallsims $simd1pid $smallsim $sim4pid; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# CPU seconds (user + system) of one command, from the shell's child times.
cpu_of() {
    ( "$@" >/dev/null 2>&1; times ) | tail -1 |
        awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%.3f", u[1]*60 + u[2] + s[1]*60 + s[2] }'
}

median_of() { echo "$@" | tr ' ' '\n' | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

# (v) mpv showing the clip at its own rate in a window of the size the
# viewer shows the picture at (read from the viewer's last run), beside the
# viewer; its start-up is left out by timing a 24 s and a 4 s run (never a
# dependency of the viewer: installed here only when missing).
mpv_line() {  # clip name viewer-output
    if [ "$platform" != xcb ]; then
        echo "(v) $2: mpv needs a real X display (KAVREL_BENCH_PLATFORM=xcb)"; return 0
    fi
    if ! command -v mpv >/dev/null; then
        if [ "$(id -u)" -eq 0 ]; then
            apt-get install -y --no-install-recommends mpv >/dev/null 2>&1 || true
        fi
        command -v mpv >/dev/null || { echo "(v) $2: no mpv"; return 0; }
    fi
    local shown long short mpv_ms viewer
    shown=$(sed -n 's/.*picture shown \([0-9]*x[0-9]*\).*/\1/p' "$3")
    viewer=$(awk '/^viewer_cpu_ms_per_frame/ { print $2 }' "$3")
    mpv_run() {
        cpu_of mpv --no-config --really-quiet --no-audio --vo=x11 --hwdec=no \
            --vd-lavc-threads=1 --geometry="$shown" --autofit="$shown" --length="$1" "$clip"
    }
    local clip=$1
    long=$(mpv_run 24)
    short=$(mpv_run 4)
    mpv_ms=$(awk -v l="$long" -v s="$short" 'BEGIN { printf "%.3f", (l - s) * 1000 / (20 * 25) }')
    echo "(v) $2: mpv --vo=x11 --hwdec=no --vd-lavc-threads=1 in a $shown window:" \
        "$mpv_ms ms/frame (start-up left out); viewer $viewer ms/frame (last round)," \
        "viewer / mpv $(awk -v v="$viewer" -v m="$mpv_ms" 'BEGIN { printf "%.2f", v / m }')"
}

if want s; then
# (s) CIF and D1, each stream served on its own, alternating with ffmpeg.
for spec in cif:352x288:512k d1:704x576:1500k; do
    IFS=: read -r name size rate <<<"$spec"
    small="$work/$name.h264"
    ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=$size:rate=25 -t 60 \
        -c:v libx264 -preset veryfast -b:v "$rate" -maxrate "$rate" -bufsize "$rate" -g 50 -bf 0 \
        -pix_fmt yuv420p -f h264 -y "$small"
    smallframes=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames -of csv=p=0 "$small")
    largest=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$small" |
        sort -n | tail -1)
    echo "stream: $name $size, 25 fps, $smallframes frames, $(stat -c %s "$small") bytes," \
        "largest frame $largest bytes"
    [ "$largest" -lt 65536 ] || echo "frame_cost.sh: a $name frame does not fit in one record" >&2
    "$sim" --port 0 --file "$small" >"$work/sim-$name.out" 2>"$work/sim-$name.log" &
    smallsim=$!
    for _ in $(seq 100); do grep -q "listening on" "$work/sim-$name.out" && break; sleep 0.1; done
    smallport=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/sim-$name.out")
    [ -n "$smallport" ] || { echo "frame_cost.sh: the $name simulator did not start" >&2; exit 1; }
    ratios=""
    baseratios=""
    for round in $(seq "$rounds"); do
        ffmpeg_cpu=$(cpu_of ffmpeg -hide_banner -threads 1 -i "$small" -f rawvideo -pix_fmt rgb565le -y /dev/null)
        ffmpeg_ms=$(awk -v c="$ffmpeg_cpu" -v f="$smallframes" 'BEGIN { printf "%.3f", c * 1000 / f }')
        QT_QPA_PLATFORM="$platform" "$bench" --port "$smallport" --seconds 20 >"$work/$name.out"
        viewer_ms=$(awk '/^viewer_cpu_ms_per_frame/ { print $2 }' "$work/$name.out")
        ratio=$(awk -v v="$viewer_ms" -v f="$ffmpeg_ms" 'BEGIN { printf "%.2f", v / f }')
        ratios="$ratios $ratio"
        line="$name round $round: viewer $viewer_ms ms/frame"
        if [ -n "$base" ]; then
            QT_QPA_PLATFORM="$platform" "$base/bench/frame/kavrel-framebench" --port "$smallport" \
                --seconds 20 >"$work/$name-base.out"
            base_ms=$(awk '/^viewer_cpu_ms_per_frame/ { print $2 }' "$work/$name-base.out")
            baseratio=$(awk -v v="$base_ms" -v f="$ffmpeg_ms" 'BEGIN { printf "%.2f", v / f }')
            baseratios="$baseratios $baseratio"
            line="$line (base $base_ms, ratio $baseratio)"
        fi
        if [ "$gather" != 0 ]; then
            QT_QPA_PLATFORM="$platform" "$bench" --port "$smallport" --seconds 20 --gather 1 \
                >"$work/$name-gather.out"
            gather_ms=$(awk '/^viewer_cpu_ms_per_frame/ { print $2 }' "$work/$name-gather.out")
            was=$(awk -v v="$gather_ms" -v f="$ffmpeg_ms" 'BEGIN { printf "%.2f", v / f }')
            line="$line (gathering every pixel $gather_ms, ratio $was)"
        fi
        echo "$line, ffmpeg -threads 1 $ffmpeg_ms ms/frame, ratio $ratio"
    done
    grep -E "^(window|frames|  thread)" "$work/$name.out"
    if [ -n "$base" ]; then
        echo "base:"
        grep -E "^(frames|  thread)" "$work/$name-base.out"
    fi
    goal=1.3
    [ "$name" = cif ] || goal=1.1
    median=$(median_of $ratios)
    echo "(s) $name CPU per frame, viewer / ffmpeg: median $median (goal <= $goal)" \
        "${base:+base median $(median_of $baseratios)}"
    if want v; then
        mpv_line "$small" "$name" "$work/$name.out"
    fi
    kill "$smallsim" 2>/dev/null || true
done
fi

if want a || want b || want c || want d || want e; then
stream="$work/1080p25.h264"
ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 \
    -c:v libx264 -preset veryfast -b:v 4M -g 50 -bf 0 -pix_fmt yuv420p -f h264 -y "$stream"
frames=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=nb_read_frames -of csv=p=0 "$stream")

"$sim" --port 0 --file "$stream" >"$work/sim.out" 2>"$work/sim.log" &
simpid=$!
for _ in $(seq 100); do grep -q "listening on" "$work/sim.out" && break; sleep 0.1; done
port=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/sim.out")
[ -n "$port" ] || { echo "frame_cost.sh: the simulator did not start" >&2; cat "$work/sim.log" >&2; exit 1; }

echo "stream: 1920x1080, 25 fps, $frames frames, $(stat -c %s "$stream") bytes"
fi
if want a || want c || want d; then
ratios=""
for round in $(seq "$rounds"); do
    ffmpeg_cpu=$(cpu_of ffmpeg -hide_banner -threads 1 -i "$stream" -f rawvideo -pix_fmt rgb565le -y /dev/null)
    ffmpeg_ms=$(awk -v c="$ffmpeg_cpu" -v f="$frames" 'BEGIN { printf "%.3f", c * 1000 / f }')
    QT_QPA_PLATFORM="$platform" "$bench" --port "$port" --seconds 10 >"$work/viewer.out"
    viewer_ms=$(awk '/^viewer_cpu_ms_per_frame/ { print $2 }' "$work/viewer.out")
    ratio=$(awk -v v="$viewer_ms" -v f="$ffmpeg_ms" 'BEGIN { printf "%.2f", v / f }')
    ratios="$ratios $ratio"
    echo "round $round: viewer $viewer_ms ms/frame, ffmpeg -threads 1 $ffmpeg_ms ms/frame, ratio $ratio"
done
grep -E "^(window|frames|resident|  thread)" "$work/viewer.out"
median=$(echo $ratios | tr ' ' '\n' | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
echo "(a) CPU per frame, viewer / ffmpeg: median $median (goal <= 0.9)"
rss=$(awk '/^resident_kb/ { printf "%.1f", $4 / 1024 }' "$work/viewer.out")
echo "(c) resident memory at 1080p: peak $rss MB (goal <= 80)"
fi

if want h; then
# (h) The same for H.265 (libx265, frames kept inside one record by the VBV):
# the viewer finds the codec in the stream and decodes with libavcodec's HEVC.
stream265="$work/1080p25.h265"
ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 \
    -c:v libx265 -preset veryfast -b:v 3M -g 50 -bf 0 -pix_fmt yuv420p \
    -x265-params log-level=error:vbv-maxrate=3000:vbv-bufsize=360 -f hevc -y "$stream265"
frames265=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=nb_read_frames -of csv=p=0 "$stream265")
"$sim" --port 0 --file "$stream265" >"$work/sim265.out" 2>"$work/sim265.log" &
simpid265=$!
for _ in $(seq 100); do grep -q "listening on" "$work/sim265.out" && break; sleep 0.1; done
port265=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/sim265.out")
[ -n "$port265" ] || { echo "frame_cost.sh: the H.265 simulator did not start" >&2; cat "$work/sim265.log" >&2; exit 1; }
ratios=""
echo "stream: H.265 1920x1080, 25 fps, $frames265 frames, $(stat -c %s "$stream265") bytes"
for round in $(seq "$rounds"); do
    ffmpeg_cpu=$(cpu_of ffmpeg -hide_banner -threads 1 -i "$stream265" -f rawvideo -pix_fmt rgb565le -y /dev/null)
    ffmpeg_ms=$(awk -v c="$ffmpeg_cpu" -v f="$frames265" 'BEGIN { printf "%.3f", c * 1000 / f }')
    QT_QPA_PLATFORM="$platform" "$bench" --port "$port265" --seconds 10 >"$work/viewer265.out"
    viewer_ms=$(awk '/^viewer_cpu_ms_per_frame/ { print $2 }' "$work/viewer265.out")
    ratio=$(awk -v v="$viewer_ms" -v f="$ffmpeg_ms" 'BEGIN { printf "%.2f", v / f }')
    ratios="$ratios $ratio"
    echo "H.265 round $round: viewer $viewer_ms ms/frame, ffmpeg -threads 1 $ffmpeg_ms ms/frame, ratio $ratio"
done
grep -E "^(frames|  thread)" "$work/viewer265.out"
median=$(echo $ratios | tr ' ' '\n' | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
echo "(h) H.265 1080p25 CPU per frame, viewer / ffmpeg: median $median (goal <= 0.9)"
kill "$simpid265" 2>/dev/null || true
fi
if want w || want x || want y || want z || want r; then
wallbench="$build/bench/frame/kavrel-wallbench"
[ -x "$wallbench" ] || { echo "frame_cost.sh: no $wallbench" >&2; exit 2; }
# Streams as these servers send them: GOP 25, every frame under 64 KB (the
# VBV keeps key frames small; the largest frame is printed).
wall_stream() {  # name size bitrate
    ffmpeg -hide_banner -loglevel error -f lavfi -i "testsrc2=size=$2:rate=25" -t 10 \
        -c:v libx264 -preset veryfast -b:v "$3" -maxrate "$3" -bufsize 400k -g 25 -bf 0 \
        -pix_fmt yuv420p -f h264 -y "$work/$1.h264"
    largest=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 \
        "$work/$1.h264" | sort -n | tail -1)
    echo "stream $1: $2, $3 bit/s, $(stat -c %s "$work/$1.h264") bytes, largest frame $largest bytes"
}
wall_server() {  # name; sets wallport
    "$sim" --port 0 --channels 1 --max-connections 32 --file "$work/$1.h264" \
        >"$work/sim-$1.out" 2>"$work/sim-$1.log" &
    wallsims="$wallsims $!"
    for _ in $(seq 100); do grep -q "listening on" "$work/sim-$1.out" && break; sleep 0.1; done
    wallport=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/sim-$1.out")
    [ -n "$wallport" ] || { echo "frame_cost.sh: the simulator did not start" >&2; exit 1; }
}
wall_line() {  # letter port tiles skip [overload]
    QT_QPA_PLATFORM="$platform" "$wallbench" --port "$2" --tiles "$3" --seconds 20 \
        --loop-filter-skip "$4" --overload-us "${5:-0}" >"$work/wall-$1-$4.out"
    echo "($1) $(head -1 "$work/wall-$1-$4.out")"
    tail -n +2 "$work/wall-$1-$4.out" | sed 's/^/      /'
    if [ -n "$base" ]; then
        QT_QPA_PLATFORM="$platform" "$base/bench/frame/kavrel-wallbench" --port "$2" --tiles "$3" \
            --seconds 20 --loop-filter-skip "$4" --overload-us "${5:-0}" >"$work/wall-$1-$4-base.out"
        echo "($1) base: $(head -1 "$work/wall-$1-$4-base.out")"
        tail -n +2 "$work/wall-$1-$4-base.out" | sed 's/^/      /'
    fi
}
if want w || want y || want z; then
    wall_stream d1 704x576 1500k
    wall_server d1
    d1port=$wallport
    if want w; then
        wall_line w "$d1port" 16 1
        wall_line w "$d1port" 16 0
    fi
    if want y; then
        wall_line y "$d1port" 9 1
        wall_line y "$d1port" 9 0
    fi
    want z && wall_line z "$d1port" 16 1 30000
fi
if want x; then
    wall_stream hd 1280x720 1000k
    wall_server hd
    hdport=$wallport
    wall_line x "$hdport" 16 1
    wall_line x "$hdport" 16 0
fi
if want r; then
    # The same D1 25 stream from both kinds of source: the project's RTSP test
    # server (GStreamer, RTP interleaved over TCP) and kavrel-sim. ROUNDS
    # rounds, alternating; the CPU of the whole process per second.
    [ -f "$work/d1.h264" ] || wall_stream d1 704x576 1500k
    if [ -z "${d1port:-}" ]; then wall_server d1; d1port=$wallport; fi
    mkdir -p "$work/rtsp"
    cp "$work/d1.h264" "$work/rtsp/d1.h264"
    /usr/bin/python3 "$root/tools/rtsp/rtsp_server.py" --port 0 --clips "$work/rtsp" \
        >"$work/rtsp.out" 2>"$work/rtsp.log" </dev/null &
    wallsims="$wallsims $!"
    for _ in $(seq 100); do grep -q "^ready" "$work/rtsp.out" && break; sleep 0.1; done
    rtspport=$(sed -n 's/^ready \([0-9]*\)$/\1/p' "$work/rtsp.out")
    [ -n "$rtspport" ] || { echo "frame_cost.sh: the RTSP test server did not start" >&2; exit 1; }
    for round in $(seq "$rounds"); do
        for kind in protocol rtsp; do
            if [ "$kind" = rtsp ]; then source=(--url "rtsp://127.0.0.1:$rtspport/d1");
            else source=(--port "$d1port"); fi
            QT_QPA_PLATFORM="$platform" "$wallbench" "${source[@]}" --tiles 9 --seconds 20 \
                >"$work/wall-r-$kind-$round.out"
            echo "(r) round $round, 9 x D1 25 over $kind: $(grep cpu_ms "$work/wall-r-$kind-$round.out"), $(grep tile_fps "$work/wall-r-$kind-$round.out")"
        done
    done
    awk '/cpu_ms_per_second/ { if (FILENAME ~ /rtsp/) r += $2; else p += $2 }
         END { if (p > 0) printf "(r) RTSP / protocol CPU per second: %.3f (goal <= 1.10)\n", r / p }' \
        "$work"/wall-r-*.out
fi
echo "goals: (w) every tile 25 fps, <= 350 ms CPU per second, <= 130 MB;" \
    "(x) every tile 25 fps, < 1000 ms CPU per second; (z) longest gap <= 1000 ms"
fi
if want l || want m; then
# (l, m) D1 25 from a 60 s clip (looped by the simulator), no B-frames as
# cameras send, frames kept well under a record's 64 KB by the VBV.
streamd1="$work/d1.h264"
ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=704x576:rate=25 -t 60 \
    -c:v libx264 -preset veryfast -b:v 1500k -g 50 -bf 0 -pix_fmt yuv420p \
    -x264-params vbv-maxrate=1500:vbv-bufsize=400 -f h264 -y "$streamd1"
"$sim" --port 0 --file "$streamd1" >"$work/simd1.out" 2>"$work/simd1.log" &
simd1pid=$!
for _ in $(seq 100); do grep -q "listening on" "$work/simd1.out" && break; sleep 0.1; done
portd1=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/simd1.out")
[ -n "$portd1" ] || { echo "frame_cost.sh: the D1 simulator did not start" >&2; cat "$work/simd1.log" >&2; exit 1; }
echo "stream: D1 704x576, 25 fps, 60 s looped, $(stat -c %s "$streamd1") bytes"
field() { awk -v k="$2" '{ for (i = 1; i < NF; ++i) if ($i == k) print $(i + 1) }' <<<"$1"; }
if want l; then
    QT_QPA_PLATFORM="$platform" "$bench" --port "$portd1" --seconds 30 >"$work/latency.out"
    last=$(grep '^stats_last_minute' "$work/latency.out")
    echo "$last"
    median=$(field "$last" latency_median_ms)
    p95=$(field "$last" latency_p95_ms)
    decode=$(field "$last" decode_mean_ms)
    goal=$(awk -v d="$decode" 'BEGIN { printf "%.2f", d + 15 }')
    echo "(l) D1 25 latency arrival to shown: median $median ms, 95th percentile $p95 ms," \
        "mean decode $decode ms (goal: median <= $goal ms)"
fi
if want m; then
    QT_QPA_PLATFORM="$platform" "$bench" --port "$portd1" --seconds 600 >"$work/drift.out"
    first=$(grep '^stats_first_minute' "$work/drift.out")
    last=$(grep '^stats_last_minute' "$work/drift.out")
    echo "$first"; echo "$last"; grep '^queued_frames_max' "$work/drift.out"
    p95first=$(field "$first" latency_p95_ms)
    p95last=$(field "$last" latency_p95_ms)
    change=$(awk -v a="$p95first" -v b="$p95last" 'BEGIN { printf "%+.1f", (b - a) * 100 / a }')
    echo "(m) D1 25 for 10 min: 95th percentile first minute $p95first ms, last minute" \
        "$p95last ms: $change % (goal within 20 %)"
fi
kill "$simd1pid" 2>/dev/null || true
fi
if want p; then
paintbench="$build/bench/frame/kavrel-paintbench"
if [ "$platform" != xcb ]; then
    echo "(p) the paint needs a real X display (KAVREL_BENCH_PLATFORM=xcb)"
elif [ ! -x "$paintbench" ]; then
    echo "(p) no $paintbench (built where libX11 and libXext are found)"
else
    # The server of this display, counted only when it is this user's.
    xserver=$(pgrep -u "$(id -u)" -f "(Xvfb|Xorg) ${DISPLAY%.*}( |\$)" | head -1 || true)
    paint_run() {  # mode tiles size
        "$paintbench" --mode "$1" --tiles "$2" --size "$3" ${xserver:+--xserver-pid "$xserver"} \
            2>/dev/null >"$work/paint.out" || { echo "(p) kavrel-paintbench --mode $1 failed"; return 1; }
        # The line as it came, and the two threads' sum for the summary.
        awk -v sum="$work/paint.sum" '/^paint/ { head = $0 }
             /^(ui|x_event_thread)_ms_per_picture/ { both += $2 }
             /_ms_per_picture/ { sub("_ms_per_picture", ""); rest = rest " " $1 " " $2 }
             END { print head ";" rest " (ms per picture)"; printf "%.3f\n", both > sum }' "$work/paint.out"
    }
    widgets=""; puts=""; wallwidget=""; wallput=""
    for round in $(seq "$rounds"); do
        paint_run widget 1 415x340 && widgets="$widgets $(cat "$work/paint.sum")"
        paint_run put 1 415x340 && puts="$puts $(cat "$work/paint.sum")"
    done
    paint_run widget 16 330x270 && wallwidget=$(cat "$work/paint.sum")
    paint_run put 16 330x270 && wallput=$(cat "$work/paint.sum")
    echo "(p) user-interface and X event threads per picture, one 415x340 view: widget paint" \
        "$(median_of $widgets) ms, put $(median_of $puts) ms; 16 x 330x270: widget paint" \
        "${wallwidget:-?} ms, put ${wallput:-?} ms"
fi
fi

[ -n "$simpid" ] || exit 0

if want d; then
# (d) Four 720p25 tiles from a four-channel simulator.
stream720="$work/720p25.h264"
ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=1280x720:rate=25 -t 10 \
    -c:v libx264 -preset veryfast -b:v 2M -g 50 -bf 0 -pix_fmt yuv420p -f h264 -y "$stream720"
"$sim" --port 0 --channels 4 --file "$stream720" >"$work/sim4.out" 2>"$work/sim4.log" &
sim4pid=$!
for _ in $(seq 100); do grep -q "listening on" "$work/sim4.out" && break; sleep 0.1; done
port4=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/sim4.out")
QT_QPA_PLATFORM="$platform" "$bench" --port "$port4" --seconds 10 --quad 1 >"$work/quad.out"
kill "$sim4pid" 2>/dev/null || true
single=$(awk '/^viewer_cpu_ms_per_second/ { print $2 }' "$work/viewer.out")
quad=$(awk '/^viewer_cpu_ms_per_second/ { print $2 }' "$work/quad.out")
quadrss=$(awk '/^resident_kb/ { printf "%.1f", $4 / 1024 }' "$work/quad.out")
grep -E "^frames" "$work/quad.out"
echo "(d) CPU per second: four 720p25 tiles $quad ms, one 1080p25 view $single ms;" \
    "resident memory with four tiles: peak $quadrss MB (goal < 150)"
fi

if want e; then
# (e) The same 1080p25 view, recording and not, alternating (and the base
# build's, when given, in the same rounds).
# One round: plain and recording runs of one viewer, appended to the lists
# named plain_<label> and record_<label>.
record_round() {  # viewer label
    local plain record
    QT_QPA_PLATFORM="$platform" "$1" --port "$port" --seconds 10 >"$work/plain-$2.out"
    QT_QPA_PLATFORM="$platform" "$1" --port "$port" --seconds 10 --record 1 >"$work/record-$2.out"
    plain=$(awk '/^viewer_cpu_ms_per_second/ { print $2 }' "$work/plain-$2.out")
    record=$(awk '/^viewer_cpu_ms_per_second/ { print $2 }' "$work/record-$2.out")
    eval "plain_$2=\"\$plain_$2 $plain\"; record_$2=\"\$record_$2 $record\""
    echo "$2 round $round: recording $record ms, not recording $plain ms per second" \
        "($(awk -v r="$record" -v p="$plain" 'BEGIN { printf "%+.1f", (r - p) * 100 / p }') %)"
}
record_summary() {  # label
    local plains records plain_cpu record_cpu more
    eval "plains=\$plain_$1; records=\$record_$1"
    grep -E "^recorded|thread kavrel-record" "$work/record-$1.out" || true
    plain_cpu=$(median_of $plains)
    record_cpu=$(median_of $records)
    more=$(awk -v r="$record_cpu" -v p="$plain_cpu" 'BEGIN { printf "%+.1f", (r - p) * 100 / p }')
    echo "(e) $1: CPU per second at 1080p25: recording $record_cpu ms, not recording $plain_cpu ms" \
        "(medians of$records /$plains): $more % (goal < 2 %)"
}
plain_viewer=""; record_viewer=""; plain_base=""; record_base=""
for round in $(seq "$rounds"); do
    record_round "$bench" viewer
    [ -z "$base" ] || record_round "$base/bench/frame/kavrel-framebench" base
done
record_summary viewer
[ -z "$base" ] || record_summary base
fi

if want b; then
if command -v perf >/dev/null && perf record -o "$work/probe.data" -- true >/dev/null 2>&1; then
    QT_QPA_PLATFORM="$platform" "$bench" --port "$port" --seconds 12 >"$work/perf.out" &
    viewer=$!
    for _ in $(seq 300); do grep -q "^measuring" "$work/perf.out" && break; sleep 0.1; done
    pid=$(awk '/^measuring pid/ { print $3 }' "$work/perf.out")
    perf record -F 999 -p "$pid" -o "$work/perf.data" -- sleep 10 >/dev/null 2>&1 || true
    wait "$viewer"
    perf report -i "$work/perf.data" --sort dso --stdio 2>/dev/null | grep '%' >"$work/dso.txt" || true
    head -6 "$work/dso.txt"
    outside=$(awk '$2 !~ /libavcodec/ { sub("%", "", $1); s += $1 } END { printf "%.1f", s }' "$work/dso.txt")
    echo "(b) viewer samples outside libavcodec: $outside % (goal <= 15)"
else
    echo "(b) perf cannot profile here: share outside libavcodec not measured"
fi
fi
