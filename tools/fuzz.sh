#!/usr/bin/env bash
# Builds a fuzz target with clang's libFuzzer (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it for SECONDS (default 300):
#   tools/fuzz.sh [SECONDS] [TARGET]   TARGET defaults to request_fuzz.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-300}
target=${2:-request_fuzz}
command -v clang++ >/dev/null || { apt-get update -qq && apt-get install -y -qq clang >/dev/null; }
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBRISVANE_TESTS=OFF -DBRISVANE_SANITIZE=ON -DBRISVANE_FUZZ=ON >/dev/null
cmake --build build/fuzz --target "$target"
corpus=build/fuzz/corpus
[ "$target" = request_fuzz ] || corpus=build/fuzz/corpus-$target
mkdir -p "$corpus"
[ "$target" != request_fuzz ] || cp -n tools/fuzz-corpus/* "$corpus"/ 2>/dev/null || true
exec build/fuzz/fuzz/"$target" "$corpus" -max_len=16384 -max_total_time="$seconds" -timeout=10 -print_final_stats=1
