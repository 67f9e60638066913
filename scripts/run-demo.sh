#!/usr/bin/env bash
# Installs what is missing, builds Kestrin, creates the demo disks when
# missing (an MBR disk with logical drives, a GPT disk, an empty disk) and
# runs Kestrin on them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build-release Kestrin
mkdir -p demo-disks
if [ ! -f demo-disks/mbr.img ]; then
  truncate -s 256M demo-disks/mbr.img
  printf 'label: dos\nstart=2048, size=64M, type=7, bootable\nsize=64M, type=b\ntype=5\nsize=32M, type=83\nsize=32M, type=82\n' \
    | sfdisk -q demo-disks/mbr.img
fi
if [ ! -f demo-disks/gpt.img ]; then
  truncate -s 256M demo-disks/gpt.img
  sgdisk -q -n 1:2048:+100M -t 1:ef00 -n 2:0:+16M -t 2:0c01 -n 3:0:+64M -t 3:0700 -n 4:0:0 -t 4:8300 demo-disks/gpt.img >/dev/null
fi
[ -f demo-disks/empty.img ] || truncate -s 64M demo-disks/empty.img
./build-release/Kestrin --disk demo-disks/mbr.img --disk demo-disks/gpt.img --disk demo-disks/empty.img "$@"
