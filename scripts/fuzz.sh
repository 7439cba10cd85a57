#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (ASan + UBSan) into build-fuzz/ and
# runs each for a bounded time on a scratch copy of its seed corpus.
# Usage: scripts/fuzz.sh [seconds per harness, default 60] [harness...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(configs y4m frames)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
if ! command -v clang++ >/dev/null || ! installed libclang-rt-14-dev; then
  if [ "$(id -u)" -ne 0 ]; then echo "need clang and libclang-rt-14-dev (run as root)" >&2; exit 1; fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTAVRO_FUZZ=ON -DTAVRO_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${harnesses[@]/#/fuzz_}"
status=0
for h in "${harnesses[@]}"; do
  work=build-fuzz/corpus-$h
  rm -rf "$work" && mkdir -p "$work" && cp tests/fuzz/corpus/$h/* "$work"/
  log=build-fuzz/fuzz_$h.log
  # Leaks of the harnesses' process-wide objects are not findings.
  if ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
     build-fuzz/bin/fuzz_$h -max_total_time="$seconds" -rss_limit_mb=4096 \
     -detect_leaks=0 -print_final_stats=1 -artifact_prefix=build-fuzz/crash-$h- "$work" >"$log" 2>&1; then
    echo "fuzz_$h: $(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}') executions, no failure"
  else
    echo "fuzz_$h: FAILED (see $log)"; tail -30 "$log"; status=1
  fi
done
exit $status
