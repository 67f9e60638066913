#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang and runs each of them on
# its seed corpus. Exits non-zero when a target reports a crash, a hang, a
# leak, a sanitizer finding or a broken promise; the input that did it is
# kept under build-fuzz/artifacts/.
#
#   scripts/fuzz.sh                  short run: 30 seconds per target (the test command runs 60)
#   scripts/fuzz.sh --long SECONDS   SECONDS per target, for a long run
#   scripts/fuzz.sh --long 3600 GptDecoder Layout
#                                    only the targets named
#
# New inputs that reach further are kept in build-fuzz/corpus/<target>/
# between runs; the committed seeds in fuzz/corpus/<target>/ are only read.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
if [ "${1:-}" = "--long" ]; then
  seconds=${2:?--long needs a number of seconds}
  shift 2
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(MbrDecoder GptDecoder Layout Edit Catalogue Descriptor DumpReader)
fi

build=build-fuzz
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
# Quiet unless the build fails: ninja prints its errors on standard output.
if ! ninja_out=$(ninja -C "$build" -j2 2>&1); then
  echo "$ninja_out" | grep -vE '^\[[0-9]+/[0-9]+\] ' >&2
  echo "fuzz.sh: the fuzz targets do not build" >&2
  exit 1
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  mkdir -p "$work" "$artifacts"
  log="$build/$target.log"
  echo "== $target: $seconds s"
  if "$build/${target}Fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    grep -E "^stat::number_of_executed_units|^Done [0-9]+ runs" "$log" | sed 's/^/   /' || true
  else
    echo "   FAILED: see $log and $artifacts/"
    grep -E "ERROR: |broken promise|runtime error|SUMMARY" "$log" | head -5 | sed 's/^/   /' || true
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}"
  exit 1
fi
echo "fuzzing found nothing"
