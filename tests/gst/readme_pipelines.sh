#!/usr/bin/env bash
# The documented file pipelines (README.md, docs/GSTREAMER.md) run with
# gst-launch-1.0 on a short clip: bokeh, the default blur, mask and
# background replacement to WebM, alpha to PNG files. Each must exit with status 0, print
# no "Caught SIG..." line (gst-launch-1.0 catches the signal of a crash at
# exit, after the last frame was written) and write every frame.
# The clip is about the first FRAMES frames of talking_head_a.mp4 when the data
# folder has it, otherwise a generated test picture.
# Usage: readme_pipelines.sh BUILD_DIR SOURCE_DIR [FRAMES]
set -euo pipefail
build=$1
src=$2
frames=${3:-30}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export GST_PLUGIN_PATH=$build/lib/gstreamer-1.0
clip=${TAVRO_DATA:-$src/../shared/data}/clips/talking_head_a.mp4

# The input: FRAMES frames at 640x360 as VP8 in WebM, which decodebin reads
# as it reads the documented MP4.
if [ -f "$clip" ]; then
  input="filesrc location=$clip ! decodebin"
  what=$(basename "$clip")
else
  input="videotestsrc pattern=smpte"
  what="videotestsrc"
fi
gst-launch-1.0 -q $input ! identity eos-after=$frames ! videoconvert ! videoscale \
  ! video/x-raw,format=I420,width=640,height=360 \
  ! vp8enc deadline=1 ! webmmux \
  ! filesink location="$tmp/in.webm" >/dev/null
gst-launch-1.0 -q videotestsrc pattern=ball num-buffers=1 ! video/x-raw,width=640,height=360 \
  ! pngenc ! filesink location="$tmp/beach.png" >/dev/null

# Frames in a WebM file: decoded to 8x8 grey pictures of 64 bytes each.
count_webm() {
  gst-launch-1.0 -q filesrc location="$1" ! decodebin ! videoconvert ! videoscale \
    ! video/x-raw,format=GRAY8,width=8,height=8 ! filesink location="$tmp/count.raw" >/dev/null
  echo $(( $(stat -c %s "$tmp/count.raw") / 64 ))
}
# Every frame of the input must come out of each pipeline.
frames=$(count_webm "$tmp/in.webm")
[ "$frames" -gt 0 ] || { echo "no input frames"; exit 1; }

failed=0
run() {  # name expected-output-check pipeline...
  local name=$1; shift
  local log=$tmp/$name.log rc=0
  gst-launch-1.0 "$@" >"$log" 2>&1 || rc=$?
  local written
  case $name in
    alpha) written=$(find "$tmp/alpha" -name '*.png' | wc -l) ;;
    *) written=$(count_webm "$tmp/$name.webm") ;;
  esac
  local caught
  caught=$(grep -c "Caught SIG" "$log" || true)
  echo "$name: exit status $rc, $written of $frames frames written, $caught \"Caught SIG\" lines"
  if [ "$rc" -ne 0 ] || [ "$written" -ne "$frames" ] || [ "$caught" -ne 0 ]; then
    grep -v "cost:" "$log" | tail -5
    failed=1
  fi
}

echo "input: $frames frames of $what"
in="filesrc location=$tmp/in.webm ! decodebin ! videoconvert"
mkdir -p "$tmp/alpha"
# shellcheck disable=SC2086  # the pipelines are word lists
run bokeh $in ! tavroportrait mode=bokeh ! videoconvert \
  ! vp8enc deadline=1 cpu-used=8 target-bitrate=4000000 ! webmmux ! filesink location="$tmp/bokeh.webm"
# shellcheck disable=SC2086
run blur $in ! tavroportrait ! videoconvert \
  ! vp8enc deadline=1 cpu-used=8 ! webmmux ! filesink location="$tmp/blur.webm"
# shellcheck disable=SC2086
run mask $in ! tavroportrait mode=mask warmup-wait=5000 ! videoconvert \
  ! vp8enc deadline=1 cpu-used=8 ! webmmux ! filesink location="$tmp/mask.webm"
# shellcheck disable=SC2086
run alpha $in ! tavroportrait mode=alpha warmup-wait=5000 ! videoconvert \
  ! video/x-raw,format=RGBA ! pngenc ! multifilesink location="$tmp/alpha/%04d.png"
# shellcheck disable=SC2086
run replace $in ! tavroportrait background-image="$tmp/beach.png" ! videoconvert \
  ! vp8enc deadline=1 ! webmmux ! filesink location="$tmp/replace.webm"
exit $failed
