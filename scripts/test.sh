#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --python   # the twin checks and the parity test use torch
scripts/build.sh build
(cd build && ctest --output-on-failure -j "$(nproc)")
