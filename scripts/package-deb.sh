#!/usr/bin/env bash
# Builds the Debian package tavro-portrait_<version>_amd64.deb: the module,
# the host SDK library, the GStreamer plugin in the system plugin folder,
# tavro-host and the docs, installed under /usr. Its dependencies are the
# Debian packages that own the libraries its programs load.
# Usage: scripts/package-deb.sh [out-dir]   (default: out/)
# TAVRO_DEB_BUILD names the build folder (default build-deb/, configured for
# the /usr prefix).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-out}
build=${TAVRO_DEB_BUILD:-build-deb}
version=$(sed -n 's/.*kVersionText\[\] = "\\"matting_release_\([0-9.]*\)\\"".*/\1/p' \
  extension/version.cpp)
[ -n "$version" ] || { echo "package-deb: no version in extension/version.cpp" >&2; exit 1; }
arch=$(dpkg --print-architecture)
name=tavro-portrait
scripts/build.sh "$build" -DCMAKE_INSTALL_PREFIX=/usr -DTAVRO_BUILD_TESTS=OFF \
  -DTAVRO_BUILD_BENCH=OFF -DTAVRO_BUILD_TOOLS=OFF >&2

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" >/dev/null
docs=$stage/usr/share/doc/$name
mkdir -p "$docs/docs"
cp README.md "$docs/"
cp docs/*.md docs/*.jpg docs/*.png "$docs/docs/" 2>/dev/null || true
for f in "$stage"/usr/bin/* "$stage"/usr/lib/*/*.so "$stage"/usr/lib/*/gstreamer-1.0/*.so; do
  [ -f "$f" ] && strip --strip-unneeded "$f"
done

# Depends: the packages owning the libraries the programs link directly
# (their NEEDED entries), except those the package brings itself.
ours=$(cd "$stage" && find usr -name '*.so' -printf '%f\n')
ourlib=$(dirname "$(find "$stage/usr/lib" -name libtavro_rtc_sdk.so)")
depends=$(for f in "$stage"/usr/bin/* $(find "$stage/usr/lib" -name '*.so'); do
            needed=$(objdump -p "$f" | awk '/NEEDED/{print $2}')
            LD_LIBRARY_PATH=$ourlib ldd "$f" | awk '/=> \//{print $1, $3}' |
              while read -r soname path; do
                grep -qx "$soname" <<<"$needed" || continue
                grep -qx "$soname" <<<"$ours" && continue
                { dpkg -S "$path" || dpkg -S "$(readlink -f "$path")" ||
                  dpkg -S "/lib/${path#/usr/lib/}"; } 2>/dev/null | head -1 | cut -d: -f1
              done
          done | sort -u | paste -sd, | sed 's/,/, /g')

mkdir -p "$stage/DEBIAN"
cat >"$stage/DEBIAN/control" <<CONTROL
Package: $name
Version: $version
Architecture: $arch
Maintainer: Tavro <tavro@localhost>
Section: video
Priority: optional
Depends: $depends
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Description: portrait segmentation video filter
 The segmentation module libtavro_segmentation_extension.so for the
 tavro_rtc_sdk host (with the stand-in host library), the GStreamer element
 tavroportrait (background blur, colour or picture, alpha or mask) and the
 host program tavro-host.
CONTROL
mkdir -p "$out"
deb=$out/${name}_${version}_${arch}.deb
fakeroot dpkg-deb --build -Zxz "$stage" "$deb" >/dev/null
echo "$deb"
