#!/usr/bin/env bash
# Unpacks the Debian package into a scratch prefix (dpkg -x, no root, the
# system untouched) and runs its element and its host program from there.
# Usage: scripts/check-deb.sh PACKAGE.deb
set -euo pipefail
deb=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
lib=$(dirname "$(find "$root/usr/lib" -name libtavro_segmentation_extension.so)")
plugins=$lib/gstreamer-1.0
[ -f "$plugins/libgsttavroportrait.so" ] || { echo "no plugin in $plugins" >&2; exit 1; }
[ -x "$root/usr/bin/tavro-host" ] || { echo "no tavro-host" >&2; exit 1; }
[ -f "$root/usr/share/doc/tavro-portrait/README.md" ] || { echo "no docs" >&2; exit 1; }
export LD_LIBRARY_PATH=$lib
# A registry of its own, so that the build's plugin cannot stand in.
export GST_PLUGIN_PATH=$plugins GST_REGISTRY=$root/registry.bin
# Whole output first: grep -q stops reading at its match, and under pipefail
# the SIGPIPE that gst-inspect-1.0 then gets would fail the pipeline.
inspect=$(gst-inspect-1.0 tavroportrait 2>&1) || true
grep -q "$plugins/libgsttavroportrait.so" <<<"$inspect" \
  || { echo "gst-inspect-1.0 does not find the packaged plugin:" >&2; echo "$inspect" >&2; exit 1; }
gst-launch-1.0 -q videotestsrc num-buffers=10 ! video/x-raw,format=NV12,width=320,height=240 \
  ! tavroportrait mode=blur warmup-wait=3000 ! video/x-raw,format=NV12 ! fakesink
"$root/usr/bin/tavro-host" --demo --frames 5 --warmup-wait 0 --output "$root/out.y4m" \
  2>"$root/host.log" || { cat "$root/host.log" >&2; exit 1; }
grep -q "$lib/libtavro_segmentation_extension.so" "$root/host.log" \
  || { echo "tavro-host did not load the packaged module" >&2; cat "$root/host.log" >&2; exit 1; }
echo "$(basename "$deb"): the packaged element and tavro-host run from $root"
