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

echo "== Debian packages"
# CPack makes the two packages of what `cmake --install` puts in place:
# kestrin-cli (the command line, without Qt) and kestrin (the window).
# dpkg-deb then shows that every file is where it belongs, the dependencies
# dpkg-shlibdeps found, that the programs are stripped and name their
# installed paths; lintian judges both packages as a distribution would: an
# error fails the test, and every warning must be one README.md explains.
rm -f build-release/kestrin_*.deb build-release/kestrin-cli_*.deb
(cd build-release && cpack -G DEB >/dev/null)
cli_deb=$(ls build-release/kestrin-cli_*.deb)
window_deb=$(ls build-release/kestrin_*.deb)
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
# $1 the package, $2 the files it must hold, $3 the libraries it must depend
# on, $4 those it must not.
check_package() {
  local deb=$1 contents depends
  contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
  for file in $2; do
    grep -qxF "$file" <<<"$contents" || { echo "test.sh: $deb lacks $file" >&2; exit 1; }
  done
  depends=$(dpkg-deb --field "$deb" Depends)
  for library in $3; do
    grep -q "$library" <<<"$depends" || { echo "test.sh: $deb does not depend on $library: $depends" >&2; exit 1; }
  done
  for library in $4; do
    if grep -q "$library" <<<"$depends"; then
      echo "test.sh: $deb depends on $library, which it does not use: $depends" >&2
      exit 1
    fi
  done
  dpkg-deb --extract "$deb" "$unpacked"
  echo "$deb: $(wc -l <<<"$contents") entries, $(dpkg-deb --field "$deb" Installed-Size) KiB installed, Depends: $depends"
}
doc_files() { echo "./usr/share/doc/$1/copyright ./usr/share/doc/$1/changelog.Debian.gz"; }
check_package "$cli_deb" "./usr/bin/kestrin-cli ./usr/share/man/man1/kestrin-cli.1.gz
  ./usr/share/bash-completion/completions/kestrin-cli $(doc_files kestrin-cli)" \
  "libc6 libstdc++6 libpugixml1v5 zlib1g" "libqt6"
check_package "$window_deb" "./usr/bin/Kestrin ./usr/share/man/man1/Kestrin.1.gz
  ./usr/share/applications/kestrin.desktop ./usr/share/polkit-1/actions/org.kestrin.Kestrin.policy
  ./usr/share/icons/hicolor/48x48/apps/kestrin.png $(doc_files kestrin)" \
  "libc6 libstdc++6 libpugixml1v5 zlib1g libqt6widgets6" "kestrin-cli"
for program in "$unpacked/usr/bin/Kestrin" "$unpacked/usr/bin/kestrin-cli"; do
  if file "$program" | grep -q 'not stripped'; then
    echo "test.sh: $program is not stripped" >&2
    exit 1
  fi
done
grep -qx 'Exec=pkexec /usr/bin/Kestrin' "$unpacked/usr/share/applications/kestrin.desktop"
grep -qx 'Icon=kestrin' "$unpacked/usr/share/applications/kestrin.desktop"
grep -q '>/usr/bin/Kestrin<' "$unpacked/usr/share/polkit-1/actions/org.kestrin.Kestrin.policy"
"$unpacked/usr/bin/kestrin-cli" --help | grep -q 'verify'
for page in kestrin-cli Kestrin; do
  man -l "$unpacked/usr/share/man/man1/$page.1.gz" 2>/dev/null | grep -q 'SEE ALSO' || [ -z "$(command -v man)" ]
done
bash -n "$unpacked/usr/share/bash-completion/completions/kestrin-cli"
# The version of the packages is that of the changelog's latest entry.
for deb in "$cli_deb" "$window_deb"; do
  version=$(dpkg-deb --field "$deb" Version)
  zcat "$unpacked/usr/share/doc/$(dpkg-deb --field "$deb" Package)/changelog.Debian.gz" | head -1 |
    grep -qF "($version)" || { echo "test.sh: $deb's version $version is not its changelog's" >&2; exit 1; }
done
lintian_out=$(lintian --fail-on error --info "$cli_deb" "$window_deb" 2>&1) || {
  echo "$lintian_out" >&2
  echo "test.sh: lintian rejects the packages" >&2
  exit 1
}
# Each warning is named in README.md's section on the packages, with why it stays.
while read -r tag; do
  grep -qF "\`$tag\`" README.md || { echo "$lintian_out" >&2; echo "test.sh: lintian warns $tag, which README.md does not explain" >&2; exit 1; }
done < <(sed -n 's/^W: [^ ]*: \([^ ]*\).*/\1/p' <<<"$lintian_out" | sort -u)
echo "lintian: no error; warnings: $(grep -c '^W:' <<<"$lintian_out" || true)"

echo "== Debug build with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRIN_SANITIZE=ON -DKESTRIN_BUILD_BENCHMARKS=OFF >/dev/null
ninja -C build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== Fuzzing: a minute per target"
bash scripts/fuzz.sh --long 60

echo "== Windows: cross build with MinGW-w64, tests under Wine"
bash scripts/windows-check.sh
