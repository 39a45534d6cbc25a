#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, replays the kept regression inputs, and fuzzes
# for FUZZ_SECONDS (default 60) in all, shared between the map reader (from
# seeds made by the map-file builder), the router on damaged street maps (a
# quarter, from the undamaged map), the settings file readers (a quarter) and
# the NMEA sentence parser (an eighth, from the real sentences kept in
# fuzz/seeds/nmea_sentence). New crashing inputs are left in
# build/fuzz/findings.
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh     # a longer run by hand
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${FUZZ_BUILD_DIR:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTIRVANE_FUZZ=ON -DTIRVANE_TESTS=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build "$build" --target rmf_reader_fuzz rmf_route_fuzz settings_files_fuzz nmea_sentence_fuzz rmfbuild-cli

seeds="$build/seeds/rmf_reader"
corpus="$build/corpus/rmf_reader"
findings="$build/findings"
mkdir -p "$seeds" "$corpus" "$findings"
# Seeds: small grids of each form (plain, compressed, wide entries, one index
# entry per tile) and at two levels.
i=0
for form in "" "--compressed" "--wide-entries" "--run-per-tile" "--compressed --wide-entries"; do
  for level in 2 7; do
    i=$((i + 1))
    # shellcheck disable=SC2086
    "$build/bin/rmfbuild" --grid "$level" 12 3 "$i" "$seeds/grid$i.rmf" $form > /dev/null
  done
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for target in rmf_reader rmf_route settings_files nmea_sentence; do
  regressions=fuzz/regressions/$target
  if compgen -G "$regressions/*" > /dev/null; then
    echo "replaying $(ls "$regressions" | wc -l) kept inputs of $target"
    "$build/bin/${target}_fuzz" -runs=0 "$regressions"/*
  fi
done
if [ "$seconds" -gt 0 ]; then
  route_seconds=$((seconds / 4))
  settings_seconds=$((seconds / 4))
  nmea_seconds=$((seconds / 8))
  reader_seconds=$((seconds - route_seconds - settings_seconds - nmea_seconds))
  "$build/bin/rmf_reader_fuzz" -max_total_time="$reader_seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" "$seeds"
  if [ "$route_seconds" -gt 0 ]; then
    route_corpus="$build/corpus/rmf_route"
    mkdir -p "$route_corpus"
    "$build/bin/rmf_route_fuzz" -max_total_time="$route_seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$route_corpus"
  fi
  if [ "$settings_seconds" -gt 0 ]; then
    settings_corpus="$build/corpus/settings_files"
    mkdir -p "$settings_corpus"
    "$build/bin/settings_files_fuzz" -max_total_time="$settings_seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$settings_corpus"
  fi
  if [ "$nmea_seconds" -gt 0 ]; then
    nmea_corpus="$build/corpus/nmea_sentence"
    mkdir -p "$nmea_corpus"
    "$build/bin/nmea_sentence_fuzz" -max_total_time="$nmea_seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=10240 -artifact_prefix="$findings/" -print_final_stats=1 "$nmea_corpus" fuzz/seeds/nmea_sentence
  fi
fi
