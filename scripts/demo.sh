#!/usr/bin/env bash
# Sets up a fresh machine, builds a release, and runs the main job on a device
# root in ./device: demo maps are written to its storage card, the map engine
# is registered, created by its ProgID, and loads them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIRVANE_TESTS=OFF
cmake --build "$build"
maps="device/Storage Card/Maps"
mkdir -p "$maps"
# Synthetic maps from the map-file builder: a compressed one of level-4 tiles
# and a plain one of level-6 tiles.
"$build/bin/rmfbuild" --grid 4 2000 3 1 "$maps/demo_01.rmf" --compressed
"$build/bin/rmfbuild" --grid 6 500 2 2 "$maps/demo_02.rmf"
"$build/bin/cartovel-demo" --root device
