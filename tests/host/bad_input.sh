#!/usr/bin/env bash
# tavro-host on bad input: each case must fail with its status and a message
# that names the problem (and never leave a junk output file).
# Usage: bad_input.sh TAVRO_HOST
set -uo pipefail
host=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
# expect RC PATTERN ARGS...: runs tavro-host ARGS, checks the status and
# that standard error matches PATTERN.
expect() {
  local rc=$1 pattern=$2
  shift 2
  "$host" "$@" >"$tmp/out" 2>"$tmp/err"
  local got=$?
  if [ "$got" != "$rc" ] || ! grep -qE -- "$pattern" "$tmp/err"; then
    echo "FAIL: tavro-host $* -> rc $got (want $rc), stderr:"; sed 's/^/  /' "$tmp/err" | tail -5
    failed=1
  fi
}

# --config: not JSON, not an object, unknown and mistyped keys, empty.
expect 2 'not JSON' --demo --frames 1 --config '{bad'
expect 2 'must be an object, not an array' --demo --frames 1 --config '[1,2]'
expect 2 'unknown configs key "foo"' --demo --frames 1 --config '{"foo":true}'
expect 2 '"bokeh" must be true or false, not a number' --demo --frames 1 --config '{"bokeh":1}'
expect 2 'empty' --demo --frames 1 --config ''
# A container the writer cannot fill is refused before anything is written.
expect 2 'x.webm: tavro-host writes .y4m, .mp4 or .avi' --demo --output "$tmp/x.webm"
[ -e "$tmp/x.webm" ] && { echo "FAIL: x.webm was written"; failed=1; }

# Inputs cut short: a Y4M, a folder with an unreadable image, an mp4 (whose
# decoder noise stays out of the way), a background JPEG.
"$host" --demo --frames 3 --warmup-wait 0 --output "$tmp/demo.y4m" >/dev/null 2>&1
head -c 700000 "$tmp/demo.y4m" >"$tmp/cut.y4m"
expect 1 'cut.y4m: frame 2: cut short' "$tmp/cut.y4m" --warmup-wait 0
mkdir "$tmp/folder"
cp "$tmp/demo.y4m" "$tmp/folder/0001.png"
expect 1 'frame 1: cannot decode the picture' "$tmp/folder" --warmup-wait 0
"$host" --demo --frames 60 --warmup-wait 0 --output "$tmp/demo.mp4" >/dev/null 2>&1
head -c $(( $(stat -c %s "$tmp/demo.mp4") / 2 )) "$tmp/demo.mp4" >"$tmp/cut.mp4"
expect 1 'cannot (be )?decode' "$tmp/cut.mp4" --warmup-wait 0
if grep -qE '^\[(h264|mpeg4|mov)' "$tmp/err"; then
  echo "FAIL: decoder messages without --verbose"; failed=1
fi
printf '\xff\xd8\xff\xe0 not a whole jpeg' >"$tmp/cut.jpg"
expect 1 'cut short' --demo --frames 1 --background "$tmp/cut.jpg"
expect 1 'not blur, a colour, or a file' --demo --frames 1 --background nothing-here.png

exit $failed
