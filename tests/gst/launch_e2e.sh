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
header, _, body = open(f"{tmp}/mask.y4m", "rb").read().partition(b"\n")
fields = {f[:1]: f[1:] for f in header.split()[1:]}
w, h = int(fields[b"W"]), int(fields[b"H"])
masks = [m[:w * h] for m in body.split(b"FRAME\n")[1:]]
alpha = open(f"{tmp}/alpha.a420", "rb").read()
size = w * h * 5 // 2  # Y, U, V, then the alpha plane; rows of 640 need no padding
alphas = [alpha[i + w * h * 3 // 2:i + size] for i in range(0, len(alpha), size)]
assert len(alphas) >= frames and len(alphas) == len(masks), (len(alphas), len(masks))
for i, (a, m) in enumerate(zip(alphas, masks)):
    assert any(a), f"frame {i}: the alpha plane is empty"
    assert a == m, f"frame {i}: {sum(x != y for x, y in zip(a, m))} alpha bytes differ"
print(f"{len(alphas)} frames of {w}x{h}: alpha equals tavro-host's masks")
PY
