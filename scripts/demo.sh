#!/usr/bin/env bash
# Sets up a fresh machine, builds a release, and runs the main job on a device
# root in ./device: the map engine is registered and created by its ProgID.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIRVANE_TESTS=OFF
cmake --build "$build"
mkdir -p device
"$build/bin/cartovel-demo" --root device
