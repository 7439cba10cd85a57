#!/usr/bin/env bash
# gst-launch-1.0 on a real clip: the alpha plane tavroportrait attaches must
# equal the masks tavro-host writes for the very same frames. The decoded
# frames are teed into a Y4M file for tavro-host, so both see the same bytes
# (scaled, which also leaves the decoder's padded rows behind: y4menc writes
# buffers as they are).
# Usage: launch_e2e.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
clip=${TAVRO_DATA:-$src/../shared/data}/clips/talking_head_a.mp4
frames=20
if [ ! -f "$clip" ]; then
  echo "no clip at $clip: skipped"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export GST_PLUGIN_PATH=$build/lib/gstreamer-1.0

# The module prints a cost line per frame on stdout.
gst-launch-1.0 -q filesrc location="$clip" ! decodebin ! identity eos-after=$frames \
  ! videoconvert ! videoscale ! video/x-raw,format=I420,width=640,height=360 ! tee name=t \
  t. ! queue ! y4menc ! filesink location="$tmp/in.y4m" \
  t. ! queue ! tavroportrait mode=alpha warmup-wait=5000 ! video/x-raw,format=A420 \
     ! filesink location="$tmp/alpha.a420" >/dev/null
"$build/bin/tavro-host" "$tmp/in.y4m" --mask-out "$tmp/mask.y4m" >/dev/null 2>"$tmp/host.log" \
  || { cat "$tmp/host.log"; exit 1; }

/usr/bin/env python3 - "$tmp" $frames <<'PY'
import sys
tmp, frames = sys.argv[1], int(sys.argv[2])
masks = open(f"{tmp}/mask.y4m", "rb").read()
header, _, body = masks.partition(b"\n")
fields = {f[:1]: f[1:] for f in header.split()[1:]}
w, h = int(fields[b"W"]), int(fields[b"H"])
assert w % 8 == 0 and h % 2 == 0, "the A420 layout below assumes unpadded rows"
alpha = open(f"{tmp}/alpha.a420", "rb").read()
frame_size = w * h * 5 // 2  # Y, U, V, then the alpha plane
assert len(alpha) % frame_size == 0, (len(alpha), frame_size)
mask_frames = body.split(b"FRAME\n")[1:]
n = len(alpha) // frame_size
assert n >= frames and len(mask_frames) == n, (n, len(mask_frames))
for i in range(n):
    a = alpha[i * frame_size + w * h * 3 // 2:(i + 1) * frame_size]
    m = mask_frames[i][:w * h]
    if a != m:
        diff = sum(x != y for x, y in zip(a, m))
        sys.exit(f"frame {i}: {diff} of {w * h} alpha bytes differ from tavro-host's mask")
    if not any(a):
        sys.exit(f"frame {i}: the alpha plane is empty")
print(f"{n} frames of {w}x{h}: alpha equals tavro-host's masks")
PY
