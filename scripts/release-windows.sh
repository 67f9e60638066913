#!/usr/bin/env bash
# Builds the Windows release archive kestrin-<version>-win64.zip from the
# cross build of scripts/windows-check.sh: Kestrin.exe and kestrin-cli.exe
# (stripped; static, so they need nothing beside them), the README's
# Windows section as README-Windows.txt and the licence as LICENSE.txt, the
# texts with Windows line ends. The version is the project's (CMakeLists.txt).
#
#   bash scripts/release-windows.sh [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR defaults to build-mingw/kestrin, OUT_DIR to build-mingw/release.
# Prints the archive's path. Installs zip with apt-get when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath -m "${1:-$root/build-mingw/kestrin}")
out=$(realpath -m "${2:-$root/build-mingw/release}")

if ! command -v zip >/dev/null; then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends zip >/dev/null
fi

version=$(sed -n 's/^project(Kestrin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="kestrin-$version-win64"
for program in "$build/Kestrin.exe" "$build/cli/kestrin-cli.exe"; do
  if [ ! -f "$program" ]; then
    echo "release-windows: $program is missing; build it with scripts/windows-check.sh" >&2
    exit 1
  fi
done

stage="$out/$name"
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/Kestrin.exe" "$build/Kestrin.exe"
x86_64-w64-mingw32-strip -o "$stage/kestrin-cli.exe" "$build/cli/kestrin-cli.exe"
# The README's section "## Windows", up to the next section of that level.
awk '/^## / { inside = ($0 == "## Windows") } inside' README.md | sed 's/$/\r/' >"$stage/README-Windows.txt"
if [ ! -s "$stage/README-Windows.txt" ]; then
  echo "release-windows: README.md has no section '## Windows'" >&2
  exit 1
fi
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
(cd "$out" && zip -q -r -X "$name.zip" "$name")
echo "$out/$name.zip"
