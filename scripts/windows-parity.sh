#!/usr/bin/env bash
# Runs the Linux build (build/) and the Windows build under Wine
# (build-windows/) on the same Y4M frames and compares the masks they write.
# The clip is the first frames of a real recording from the shared data when
# it is there, else the built-in demo clip.
#
# Usage: scripts/windows-parity.sh [--frames N] [--max-diff LEVELS]
# Exits 1 when any mask pixel differs by more than LEVELS grey levels
# (default 0: identical masks). Needs numpy for /usr/bin/python3
# (scripts/install-deps.sh --python).
set -euo pipefail
cd "$(dirname "$0")/.."
frames=60
max_diff=0
while [ $# -gt 0 ]; do
  case $1 in
    --frames) frames=$2; shift 2 ;;
    --max-diff) max_diff=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
linux_host=build/bin/tavro-host
win_host=build-windows/bin/tavro-host.exe
for f in "$linux_host" "$win_host"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "missing $f: build both first" >&2; exit 2; }
done
export WINEPREFIX=${WINEPREFIX:-$(pwd)/build-win-deps/wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="

out=build-windows/parity
mkdir -p "$out"
clip=../shared/data/clips/talking_head_a.mp4
if [ -f "$clip" ]; then
  # Decode once on Linux; both builds then read the very same bytes.
  "$linux_host" "$clip" --frames "$frames" --config '{"enable":false}' \
    --output "$out/clip.y4m" >/dev/null 2>&1
  name=$(basename "$clip")
else
  "$linux_host" --demo --frames "$frames" --config '{"enable":false}' \
    --output "$out/clip.y4m" >/dev/null 2>&1
  name="the demo clip"
fi

for cfg in '{"enable":true}' '{"enable":true,"enable_media_filter":true}' \
           '{"enable":true,"bokeh":true}'; do
  tag=$(echo "$cfg" | tr -d '{}"' | sed 's/:true//g; s/,/-/g')
  t0=$(date +%s%N)
  "$linux_host" "$out/clip.y4m" --config "$cfg" --mask-out "$out/linux-$tag-mask.y4m" \
    --output "$out/linux-$tag-frames.y4m" >"$out/linux-$tag.log" 2>&1
  t1=$(date +%s%N)
  /usr/lib/wine/wine64 "$win_host" "$out/clip.y4m" --config "$cfg" \
    --mask-out "$out/windows-$tag-mask.y4m" --output "$out/windows-$tag-frames.y4m" \
    >"$out/windows-$tag.log" 2>&1
  t2=$(date +%s%N)
  echo "== $name, $frames frames, configs $cfg"
  echo "   wall: linux $(( (t1 - t0) / 1000000 )) ms, windows under wine $(( (t2 - t1) / 1000000 )) ms"
  for os in linux windows; do
    echo "   $os: $(grep -o '[0-9.]* ms per frame in the filter' "$out/$os-$tag.log" | tail -1)"
  done
  for what in mask frames; do
    /usr/bin/python3 - "$out/linux-$tag-$what.y4m" "$out/windows-$tag-$what.y4m" "$what" "$max_diff" <<'PY' || failed=1
import sys
import numpy as np

def planes(path):
    """All frames of a Y4M file (4:2:0 or mono) as one int16 array."""
    with open(path, "rb") as f:
        header = f.readline().split()
        w = int(next(t[1:] for t in header if t.startswith(b"W")))
        h = int(next(t[1:] for t in header if t.startswith(b"H")))
        mono = any(t.startswith(b"Cmono") for t in header)
        size = w * h if mono else w * h + 2 * (w // 2) * (h // 2)
        out = []
        while f.readline():
            out.append(np.frombuffer(f.read(size), np.uint8).astype(np.int16))
        return np.stack(out) if out else np.zeros((0, size), np.int16)

a, b = planes(sys.argv[1]), planes(sys.argv[2])
what, limit = sys.argv[3], int(sys.argv[4])
if a.shape != b.shape:
    print(f"   {what}: shapes differ, {a.shape} and {b.shape}")
    sys.exit(1)
d = np.abs(a - b)
worst = int(d.max()) if d.size else 0
print(f"   {what}: {len(a)} frames (mean level {a.mean():.1f}), largest difference {worst}, "
      f"mean {d.mean():.6f}, differing bytes {int((d > 0).sum())} of {d.size} "
      f"in {int((d.max(axis=1) > 0).sum()) if d.size else 0} frames")
sys.exit(0 if worst <= limit else 1)
PY
  done
done
exit "${failed:-0}"
