#!/usr/bin/env bash
# Sets up a fresh machine, builds a release (which converts the Neubrandenburg
# OpenStreetMap extract into the demo maps), and runs the main job on a device
# root in ./device: the maps go to its storage card, the map engine is
# registered, created by its ProgID, and loads them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIRVANE_TESTS=OFF
cmake --build "$build"
maps="device/Storage Card/Maps"
mkdir -p "$maps"
cp "$build"/demo-maps/* "$maps/"
"$build/bin/cartovel-demo" --root device
