#!/bin/sh
# Start-up, frame-rate and memory figures of the demo, each a ratio against a
# bare program of the same libraries on the same Xvfb in the same run; then
# the checker's cost a frame against reading and comparing the frame, and the
# time the screen check adds to a run.
# Needs DEMO, BARE, CAPTURE and DATA in the environment (scripts/bench sets them).
set -eu
export LIBGL_ALWAYS_SOFTWARE=1
runs=${RUNS:-21}
work=$(mktemp -d)
. "$(dirname "$0")/../scripts/lib/xvfb.sh"
xvfb_pid=""
trap 'stop_xvfb; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
start_xvfb "$work"

mkdir "$work/small" "$work/big"
cp "$DATA"/*.glsl "$DATA/pacific.jpg" "$work/small/"
cp "$DATA"/*.glsl "$work/big/"
convert -size 4000x3000 plasma:fractal -seed 7 -quality 90 "$work/big/pacific.jpg"

now() { date +%s%N; }
# seconds FRAMES DIR COMMAND...: wall time in microseconds from starting
# COMMAND to its end, which the frame-capture library brings right after the
# swap of frame FRAMES: start-up, FRAMES frames and the exit.
seconds() {
  frames=$1 dir=$2
  shift 2
  t0=$(now)
  (cd "$dir" && LD_PRELOAD="$CAPTURE" CAPTURE_EXIT="$frames" "$@" >/dev/null 2>"$work/err")
  t1=$(now)
  echo $(((t1 - t0) / 1000))
}
peak() { sed -n 's/^peak_rss_kb=//p' "$work/err"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# figure NAME TARGET FILE: FILE holds one "measured floor" pair a line; prints
# the median of the per-pair ratios and their lowest and highest.
figure() {
  awk '{ print $1 / $2 }' "$3" | sort -g | awk -v name="$1" -v target="$2" '
    { v[NR] = $1 }
    END { printf "figure %s ratio=%.3f target=%s spread=%.3f-%.3f\n", name, v[int((NR + 1) / 2)], target, v[1], v[NR] }'
}

: >"$work/start"; : >"$work/start_big"; : >"$work/memory_big"
i=0
while [ $i -lt "$runs" ]; do # interleaved pairs, so drift hits both alike
  d=$(seconds 1 "$work/small" "$DEMO")
  b=$(seconds 1 "$work/small" "$BARE" start)
  echo "$d $b" >>"$work/start"
  d=$(seconds 1 "$work/big" "$DEMO")
  demo_peak=$(peak)
  b=$(seconds 1 "$work/big" "$BARE" decode pacific.jpg)
  echo "$d $b" >>"$work/start_big"
  echo "$demo_peak $(peak)" >>"$work/memory_big"
  i=$((i + 1))
done
d1=$(cut -d' ' -f1 "$work/start" | median); b1=$(cut -d' ' -f2 "$work/start" | median)
db=$(cut -d' ' -f1 "$work/start_big" | median); bb=$(cut -d' ' -f2 "$work/start_big" | median)
dp=$(cut -d' ' -f1 "$work/memory_big" | median); bp=$(cut -d' ' -f2 "$work/memory_big" | median)
echo "first frame: demo $((d1 / 1000)) ms, bare window $((b1 / 1000)) ms (medians of $runs)"
echo "first frame, 4000 x 3000: demo $((db / 1000)) ms, bare window + decode + mipmaps $((bb / 1000)) ms"
echo "peak memory, 4000 x 3000: demo $dp kB, bare window + one raster $bp kB"

# Frame rate: the time of 2,000 more frames than the first, in five pairs.
frames=2001
: >"$work/fps"
for i in 1 2 3 4 5; do
  d=$(seconds $frames "$work/small" "$DEMO")
  b=$(seconds $frames "$work/small" "$BARE" loop)
  awk -v d=$((d - d1)) -v b=$((b - b1)) -v n=$((frames - 1)) \
    'BEGIN { printf "%.0f %.0f\n", n / (d / 1e6), n / (b / 1e6) }' >>"$work/fps"
done
echo "frames per second: demo $(cut -d' ' -f1 "$work/fps" | median), bare clear-and-swap loop $(cut -d' ' -f2 "$work/fps" | median)"

figure first_frame 1.5 "$work/start"
figure first_frame_big 1.2 "$work/start_big"
figure frame 0.2 "$work/fps"
figure memory_big 2.0 "$work/memory_big"

# The checker's cost a frame, on the same Xvfb.
. "$(dirname "$0")/../scripts/lib/python.sh"
$python "$(dirname "$0")/check-figure.py"

# The time the screen check adds to a run, on the same Xvfb.
$python "$(dirname "$0")/screen-figure.py"
