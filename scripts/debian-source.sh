# Fetching Debian source packages; sourced by the scripts that build
# third-party libraries from source (scripts/build-libyuv.sh,
# scripts/build-windows.sh).
#
# fetch_source PACKAGE VERSION DIR downloads the source package into DIR
# unless its upstream tarball is already there. When apt knows no source of
# that version, deb-src entries are added first: one for each Debian archive
# the machine already installs binary packages from (its URI, suite and
# component, as apt itself reports them), so that a mirror or proxy set up
# for the machine serves the sources too.

# "URI SUITE COMPONENT" for each binary package index of Debian's own
# archives that apt uses (origin Debian in the archive's Release file).
debian_binary_indexes() {
  apt-cache policy | awk '
    $1 ~ /^[0-9]+$/ && $2 ~ /:\/\// && $NF == "Packages" { uri = $2; dist = $3; pending = 1; next }
    pending && $1 == "release" {
      if ($2 ~ /(^|,)o=Debian(,|$)/) {
        n = split(dist, part, "/")
        if (n >= 2) print uri, part[1], part[2]
      }
      pending = 0
    }'
}

ensure_deb_src() {
  local entries file=/etc/apt/sources.list.d/tavro-deb-src.sources keyring=
  entries=$(debian_binary_indexes | sort -u)
  if [ -z "$entries" ]; then
    echo "no Debian archive among the machine's apt sources to take sources from" >&2
    return 1
  fi
  [ "$(id -u)" -eq 0 ] || { echo "need root to add deb-src entries" >&2; return 1; }
  [ -f /usr/share/keyrings/debian-archive-keyring.gpg ] &&
    keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  echo "== adding deb-src entries for the machine's Debian archives" >&2
  : >"$file.tmp"
  while read -r uri suite component; do
    {
      echo "Types: deb-src"
      echo "URIs: $uri"
      echo "Suites: $suite"
      echo "Components: $component"
      [ -n "$keyring" ] && echo "Signed-By: $keyring"
      echo
    } >>"$file.tmp"
  done <<<"$entries"
  mv "$file.tmp" "$file"
  apt-get update -qq
}

fetch_source() {  # package version dir
  local pkg=$1 ver=$2 dir=$3
  mkdir -p "$dir"
  ls "$dir/${pkg}_${ver%-*}".orig.tar.* >/dev/null 2>&1 && return 0
  # grep reads to the end (no -q): an early exit would make apt-cache fail
  # with SIGPIPE under pipefail.
  if ! apt-cache showsrc "$pkg" 2>/dev/null | grep -x "Version: $ver" >/dev/null; then
    ensure_deb_src
  fi
  echo "== fetching the source of $pkg $ver" >&2
  (cd "$dir" && apt-get source --download-only -qq "$pkg=$ver" >/dev/null)
}
