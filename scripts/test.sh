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

echo "== Debian package"
# CPack packages what `cmake --install` puts in place; dpkg-deb then shows
# that every file is where it belongs, the dependencies dpkg-shlibdeps found,
# and that the packaged programs name their installed paths.
rm -f build-release/kestrin_*.deb
(cd build-release && cpack -G DEB >/dev/null)
deb=$(ls build-release/kestrin_*.deb)
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for file in ./usr/bin/Kestrin ./usr/bin/kestrin-cli ./usr/share/man/man1/kestrin-cli.1 \
  ./usr/share/bash-completion/completions/kestrin-cli ./usr/share/applications/kestrin.desktop \
  ./usr/share/polkit-1/actions/org.kestrin.Kestrin.policy; do
  grep -qxF "$file" <<<"$contents" || { echo "test.sh: $deb lacks $file" >&2; exit 1; }
done
depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libstdc++6 libpugixml1v5 zlib1g libuuid1 libqt6widgets6; do
  grep -q "$library" <<<"$depends" || { echo "test.sh: $deb does not depend on $library: $depends" >&2; exit 1; }
done
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
grep -qx 'Exec=pkexec /usr/bin/Kestrin' "$unpacked/usr/share/applications/kestrin.desktop"
grep -q '>/usr/bin/Kestrin<' "$unpacked/usr/share/polkit-1/actions/org.kestrin.Kestrin.policy"
"$unpacked/usr/bin/kestrin-cli" --help | grep -q 'verify'
man -l "$unpacked/usr/share/man/man1/kestrin-cli.1" 2>/dev/null | grep -q 'EXIT STATUS' || [ -z "$(command -v man)" ]
bash -n "$unpacked/usr/share/bash-completion/completions/kestrin-cli"
echo "$deb: $(wc -l <<<"$contents") entries, Depends: $depends"

echo "== Debug build with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRIN_SANITIZE=ON -DKESTRIN_BUILD_BENCHMARKS=OFF >/dev/null
ninja -C build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== Fuzzing: a minute per target"
bash scripts/fuzz.sh --long 60

echo "== Windows: cross build with MinGW-w64, tests under Wine"
bash scripts/windows-check.sh
