#!/usr/bin/env bash
# Builds the Windows release from the cross build of scripts/windows-check.sh:
# the archive kestrin-<version>-win64.zip and the installer
# kestrin-<version>-x64.msi (packaging/windows/Kestrin.wxs, built with wixl).
# Both hold Kestrin.exe and kestrin-cli.exe (stripped; static, so they need
# nothing beside them), the users' README-Windows.txt and the licence as
# LICENSE.txt, the texts with Windows line ends. The version is the
# project's (CMakeLists.txt); KESTRIN_MSI_VERSION, when set, gives the
# installer another (the Windows check builds a newer one to install over
# the first).
#
#   bash scripts/release-windows.sh [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR defaults to build-mingw/kestrin, OUT_DIR to build-mingw/release.
# Prints the archive's path, then the installer's. Installs zip, wixl and
# msitools with apt-get when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath -m "${1:-$root/build-mingw/kestrin}")
out=$(realpath -m "${2:-$root/build-mingw/release}")

missing=()
for tool in zip:zip wixl:wixl msibuild:msitools; do
  command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
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
sed 's/$/\r/' packaging/windows/README-Windows.txt >"$stage/README-Windows.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
(cd "$out" && zip -q -r -X "$name.zip" "$name")

# The installer. An MSI version has three numbers; wixl reads its sources
# by paths relative to the folder it runs in. What wixl cannot write (the
# PATH entry and its option) msibuild adds, a query at a time.
msi_version=${KESTRIN_MSI_VERSION:-$version.0}
installer="$out/kestrin-$version-x64.msi"
rm -f "$installer"
wixl -a x64 -D Version="$msi_version" -D Stage="$(realpath --relative-to="$root" "$stage")" -D Resources=resources \
  -o "$installer" packaging/windows/Kestrin.wxs
grep -v -e '^#' -e '^$' packaging/windows/path-entry.sql | while IFS= read -r query; do
  msibuild "$installer" -q "$query"
done
echo "$out/$name.zip"
echo "$installer"
