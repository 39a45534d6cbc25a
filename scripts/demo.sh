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

# The receiver: the demo walk through Neubrandenburg and a real multi-constellation
# receiver's log replayed through the engine's receiver input, one tick a second.
echo
echo "== The demo walk replayed through the navigation engine's receiver input (nmea-replay):"
echo "   the first ticks, every 300th, and the last, where the receiver falls silent"
walk=$("$build/bin/nmea-replay" data/nmea/neubrandenburg-walk.nmea)
printf '%s\n' "$walk" | awk -v last="$(printf '%s\n' "$walk" | wc -l)" 'NR <= 5 || NR % 300 == 0 || NR > last - 10'
echo
echo "== A u-blox receiver's log with \$GN talkers (first ticks):"
ublox=$("$build/bin/nmea-replay" data/nmea/gpsd/ublox-8.log)
printf '%s\n' "$ublox" | awk 'NR <= 8'
