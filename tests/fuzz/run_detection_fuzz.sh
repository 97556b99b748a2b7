#!/bin/sh
# Builds the detection fuzzer with clang (its own CMake project) and runs it for a bounded time.
# Usage: run_detection_fuzz.sh <clang++> <build dir> <seconds> <substitute archives, ;-separated>
set -eu
cxx=$1
build=$2
seconds=$3
archives=$4
here=$(cd "$(dirname "$0")" && pwd)

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
    "-DSERIAL_SUBSTITUTE_LIBRARIES=$archives" >/dev/null
ninja -C "$build" -j2 detection_fuzzer

mkdir -p "$build/corpus"
cd "$build"
exec ./detection_fuzzer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 corpus
