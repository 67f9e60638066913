#!/usr/bin/env bash
# Installs what Kestrin needs to build and test, from Debian's packages.
# Does nothing when everything is present. Runs apt-get as root, or through
# sudo when not root.
set -euo pipefail

packages=(
  cmake ninja-build pkg-config g++
  libpugixml-dev zlib1g-dev uuid-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fdisk gdisk parted util-linux e2fsprogs
  nlohmann-json3-dev
  dpkg-dev file lintian man-db
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
