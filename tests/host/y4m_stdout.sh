#!/usr/bin/env bash
# Video on standard output must be byte-clean: the module's lines go to the
# host's log, never into the stream. "host": tavro-host --output - (its log
# in a --log file); "gst": gst-launch-1.0 ... ! y4menc ! fdsink, read back by
# y4mdec frame for frame.
# Usage: y4m_stdout.sh BUILD_DIR host|gst
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
frames=6

if [ "$2" = host ]; then
  "$build/bin/tavro-host" --demo --frames $frames --warmup-wait 0 --output - \
    --log "$tmp/module.log" >"$tmp/out.y4m" 2>"$tmp/host.err" || { cat "$tmp/host.err"; exit 1; }
  grep -q "^create net start11!$" "$tmp/module.log" || { echo "no start-up line in the log"; exit 1; }
  grep -q "^Process  *cost:" "$tmp/module.log" || { echo "no cost line in the log"; exit 1; }
else
  export GST_PLUGIN_PATH=$build/lib/gstreamer-1.0
  gst-launch-1.0 -q videotestsrc num-buffers=$frames pattern=ball \
    ! video/x-raw,format=I420,width=320,height=240 ! tavroportrait mode=mask \
    ! videoconvert ! y4menc ! fdsink >"$tmp/out.y4m"
  gst-launch-1.0 -q filesrc location="$tmp/out.y4m" ! y4mdec ! y4menc \
    ! filesink location="$tmp/again.y4m"
fi

/usr/bin/env python3 - "$tmp" $frames "$2" <<'PY'
import os, sys
tmp, frames, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]

def read(path):
    data = open(path, "rb").read()
    header, _, body = data.partition(b"\n")
    assert header.startswith(b"YUV4MPEG2 "), header[:40]
    fields = {f[:1]: f[1:] for f in header.split()[1:]}
    w, h = int(fields[b"W"]), int(fields[b"H"])
    size = w * h + 2 * ((w + 1) // 2) * ((h + 1) // 2)
    out, at = [], 0
    while at < len(body):
        assert body[at:at + 6] == b"FRAME\n", f"frame {len(out)}: junk at byte {at}: {body[at:at + 40]!r}"
        at += 6
        out.append(body[at:at + size])
        assert len(out[-1]) == size, f"frame {len(out) - 1} is short"
        at += size
    return out

got = read(f"{tmp}/out.y4m")
assert len(got) == frames, (len(got), frames)
if kind == "gst":
    again = read(f"{tmp}/again.y4m")
    assert again == got, "y4mdec read other frames back"
print(f"{len(got)} clean frames")
PY
