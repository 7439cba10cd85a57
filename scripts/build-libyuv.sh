#!/usr/bin/env bash
# Builds the libyuv the module links: Debian's source package, as a static,
# position-independent library with hidden symbols, whose objects call
# tavro_yuv_malloc and tavro_yuv_free instead of malloc and free (renamed
# with objcopy). The module defines those two (matting/yuv_scratch.cpp) and
# lends libyuv's scalers a row buffer it has checked; no other libyuv in the
# process is touched, and the module needs no libyuv.so at run time.
#
# Usage: scripts/build-libyuv.sh PREFIX [TOOLCHAIN_FILE]
# Installs PREFIX/lib/libyuv.a and PREFIX/include/; does nothing while
# PREFIX/.stamp-libyuv names the same version and recipe. The downloaded
# source stays in PREFIX/../src. With a toolchain file (the mingw-w64 cross
# build) that toolchain's compiler and objcopy are used.
set -euo pipefail
LIBYUV_VERSION=0.0~git20230123.b2528b0-1
RECIPE="static pic hidden scratch-hooks"
prefix=$1
toolchain=${2:-}
scripts=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=debian-source.sh
. "$scripts/debian-source.sh"

stamp="$LIBYUV_VERSION $RECIPE${toolchain:+ $(basename "$toolchain")}"
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
deps=$(dirname "$prefix")
# Two build folders configured at once build it once.
exec 9>"$prefix/.lock"
flock 9
if [ -f "$prefix/.stamp-libyuv" ] && [ "$(cat "$prefix/.stamp-libyuv")" = "$stamp" ] &&
   [ -f "$prefix/lib/libyuv.a" ]; then
  exit 0
fi

t0=$(date +%s)
fetch_source libyuv "$LIBYUV_VERSION" "$deps/src"
src=$deps/libyuv-src
bld=$deps/libyuv-build
rm -rf "$src" "$bld"
mkdir -p "$src"
tar xzf "$deps/src/libyuv_${LIBYUV_VERSION%-*}.orig.tar.gz" -C "$src" --strip-components=1

objcopy=objcopy
args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_POSITION_INDEPENDENT_CODE=ON
      "-DCMAKE_C_FLAGS=-fvisibility=hidden"
      "-DCMAKE_CXX_FLAGS=-fvisibility=hidden -fvisibility-inlines-hidden")
if [ -n "$toolchain" ]; then
  args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
  objcopy=x86_64-w64-mingw32-objcopy
fi
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$deps}
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
echo "== building libyuv $LIBYUV_VERSION (static) into $prefix" >&2
cmake -S "$src" -B "$bld" -G Ninja -Wno-dev "${args[@]}" >/dev/null
cmake --build "$bld" --target yuv -j "${TAVRO_JOBS:-$(nproc)}" >/dev/null

mkdir -p "$prefix/lib" "$prefix/include"
rm -rf "$prefix/include/libyuv" "$prefix/include/libyuv.h"
"$objcopy" --redefine-sym malloc=tavro_yuv_malloc --redefine-sym free=tavro_yuv_free \
  "$bld/libyuv.a" "$prefix/lib/libyuv.a"
cp -r "$src/include/libyuv.h" "$src/include/libyuv" "$prefix/include/"
# Whether the JPEG decoder is in: its users must then link libjpeg.
if grep -q -- "-DHAVE_JPEG" "$bld/build.ninja"; then : >"$prefix/.with-jpeg"; else rm -f "$prefix/.with-jpeg"; fi
echo "$stamp" >"$prefix/.stamp-libyuv"
rm -rf "$src" "$bld"
echo "== libyuv: $(( $(date +%s) - t0 )) s" >&2
