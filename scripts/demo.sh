#!/usr/bin/env bash
# Installs what is missing, builds and runs the host program on its built-in
# input; the outputs land in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
mkdir -p out
build/bin/tavro-host --demo --mask-out out/mask.y4m --output out/output.y4m \
  --sheet out/sheet.png "$@"
