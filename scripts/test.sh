#!/usr/bin/env bash
# Installs what is missing, builds Kestrin and runs every test twice: in a
# release build, and in a debug build with AddressSanitizer and
# UndefinedBehaviorSanitizer; then fuzzes each decoder for a minute and
# checks the Windows build. Exits non-zero when any test fails or the
# fuzzers find anything.
#
# With --quick it builds the release tree and runs the unit tests only (the
# CTest label "unit": no peers, processes, loop devices or windows), for the
# edit-compile-test loop.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *)
    echo "usage: bash scripts/test.sh [--quick]" >&2
    exit 2
    ;;
esac

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

echo "== Release build"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build-release -j"$jobs"
if [ "$quick" -eq 1 ]; then
  ctest --test-dir build-release --output-on-failure -j"$jobs" -L unit
  exit 0
fi
ctest --test-dir build-release --output-on-failure -j"$jobs"

echo "== Debug build with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRIN_SANITIZE=ON -DKESTRIN_BUILD_BENCHMARKS=OFF >/dev/null
ninja -C build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== Fuzzing: a minute per target"
bash scripts/fuzz.sh --long 60

echo "== Windows: cross build with MinGW-w64, tests under Wine"
bash scripts/windows-check.sh
