#!/usr/bin/env bash
# Installs the Debian packages the project builds against, when missing.
# (The module's libyuv is built from Debian's source package at configure
# time, scripts/build-libyuv.sh; libyuv-dev is for the tests that play a host
# with a libyuv of its own.)
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config rapidjson-dev libyuv-dev
      libjpeg-dev xz-utils libopencv-dev libgtest-dev libgmock-dev libbenchmark-dev
      libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
      gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
      gstreamer1.0-libav
      python-matplotlib-data)  # the last for the demo's photograph
if [ "${1:-}" = "--python" ]; then
  pkgs+=(python3-torch python3-opencv python3-numpy)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  if [ "$(id -u)" -ne 0 ]; then
    echo "need root to install packages (run as root or install them yourself)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
