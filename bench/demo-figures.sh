#!/bin/sh
# Start-up, frame-rate and memory figures of the demo, each a ratio against a
# bare program of the same libraries on the same Xvfb in the same run.
# Needs DEMO, BARE, CAPTURE and DATA in the environment (scripts/bench sets them).
set -eu
export LIBGL_ALWAYS_SOFTWARE=1
runs=${RUNS:-21}
work=$(mktemp -d)
. "$(dirname "$0")/../scripts/xvfb.sh"
xvfb_pid=""
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
start_xvfb "$work"

mkdir "$work/small" "$work/big"
cp "$DATA"/*.glsl "$DATA/pacific.jpg" "$work/small/"
cp "$DATA"/*.glsl "$work/big/"
convert -size 4000x3000 plasma:fractal -seed 7 -quality 90 "$work/big/pacific.jpg"

now() { date +%s%N; }
# seconds FRAMES DIR COMMAND...: wall time from exec to the end of frame FRAMES
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
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

: >"$work/demo1"; : >"$work/bare1"; : >"$work/demo_big"; : >"$work/bare_big"
i=0
while [ $i -lt "$runs" ]; do # interleaved, so drift hits both alike
  seconds 1 "$work/small" "$DEMO" >>"$work/demo1"
  seconds 1 "$work/small" "$BARE" start >>"$work/bare1"
  seconds 1 "$work/big" "$DEMO" >>"$work/demo_big"
  demo_peak=$(peak)
  seconds 1 "$work/big" "$BARE" decode pacific.jpg >>"$work/bare_big"
  bare_peak=$(peak)
  i=$((i + 1))
done
d1=$(median <"$work/demo1"); b1=$(median <"$work/bare1")
db=$(median <"$work/demo_big"); bb=$(median <"$work/bare_big")
echo "first frame: demo $((d1 / 1000)) ms, bare window $((b1 / 1000)) ms (medians of $runs)"
echo "first frame, 4000 x 3000: demo $((db / 1000)) ms, bare window + decode + mipmaps $((bb / 1000)) ms"
echo "peak memory, 4000 x 3000: demo $demo_peak kB, bare window + one raster $bare_peak kB"

# Frame rate: the time of 2,000 more frames, three interleaved runs each.
frames=2001
: >"$work/demo_n"; : >"$work/bare_n"
for i in 1 2 3; do
  seconds $frames "$work/small" "$DEMO" >>"$work/demo_n"
  seconds $frames "$work/small" "$BARE" loop >>"$work/bare_n"
done
dn=$(median <"$work/demo_n"); bn=$(median <"$work/bare_n")
demo_fps=$(awk -v t="$((dn - d1))" -v n=$((frames - 1)) 'BEGIN { printf "%.0f", n / (t / 1e6) }')
bare_fps=$(awk -v t="$((bn - b1))" -v n=$((frames - 1)) 'BEGIN { printf "%.0f", n / (t / 1e6) }')
echo "frames per second: demo $demo_fps, bare clear-and-swap loop $bare_fps"

echo "figure first_frame ratio=$(ratio "$d1" "$b1") target=1.5"
echo "figure first_frame_big ratio=$(ratio "$db" "$bb") target=1.2"
echo "figure frame ratio=$(ratio "$demo_fps" "$bare_fps") target=0.2"
echo "figure memory_big ratio=$(ratio "$demo_peak" "$bare_peak") target=2.0"
