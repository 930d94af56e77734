#!/usr/bin/env bash
# Builds Brisvane natively and starts vanehost on the bundled default
# configuration in the staged install directory (build/release/stage).
set -eu
cd "$(dirname "$0")/.."
bash tools/deps.sh native
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRISVANE_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
stage=build/release/stage
export BRISVANE_REGISTRY=${BRISVANE_REGISTRY:-$PWD/$stage/registry.reg}
exec "$stage/vanehost" "$@"
