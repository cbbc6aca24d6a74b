#!/usr/bin/env bash
# Runs every test: formatting, native unit tests (plain and with ASan/UBSan), the fuzz targets
# for a bounded time, the Windows client's tests under Wine, and the 32-bit release build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

step() { printf '\n== %s\n' "$*"; }

step "formatting and layers"
scripts/check-format.sh
scripts/check-layers.py

for preset in native native-asan fuzz win64 win32; do
  step "build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j2
done

for preset in native native-asan fuzz win64; do
  step "test $preset"
  ctest --preset "$preset"
done

step "all tests passed"
