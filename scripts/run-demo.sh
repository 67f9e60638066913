#!/usr/bin/env bash
# Builds Kestrin (release build in build-release), makes its demo disks under
# demo-disks/ when they are missing, and starts Kestrin on them:
#   demo-disks/mbr.img    MBR: a bootable NTFS entry, a FAT32 entry and an
#                         extended entry holding two logical drives
#   demo-disks/gpt.img    GPT: EFI system, Microsoft reserved, basic data,
#                         Linux data and Linux swap entries
#   demo-disks/empty.img  no partition table at all
# Pick another disk with "Select another DISK" in the table's popup menu.
#
# Without a display ($DISPLAY and $WAYLAND_DISPLAY unset) the window is drawn
# offscreen instead and saved as demo-disks/kestrin-screenshot.png; and the
# tables are printed to the terminal. Extra arguments go to Kestrin.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -f scripts/setup.sh ]; then
  bash scripts/setup.sh
fi

# Reuse the folder's configuration when there is one (scripts/test.sh builds
# the same folder); otherwise configure a release build.
if [ -f build-release/CMakeCache.txt ]; then
  cmake -S . -B build-release -G Ninja -DKESTRIN_BUILD_UI=ON >/dev/null
else
  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRIN_BUILD_UI=ON >/dev/null
fi
ninja -C build-release -j2 Kestrin

export PATH="$PATH:/usr/sbin:/sbin"
mkdir -p demo-disks
size=$((256 * 1024 * 1024))

if [ ! -f demo-disks/mbr.img ]; then
  echo "Making demo-disks/mbr.img (MBR)"
  truncate -s "$size" demo-disks/mbr.img.part
  sfdisk --quiet demo-disks/mbr.img.part <<'EOF'
label: dos
label-id: 0x4b657374
start=2048, size=100MiB, type=7, bootable
size=40MiB, type=c
type=5
size=30MiB, type=83
type=82
EOF
  mv demo-disks/mbr.img.part demo-disks/mbr.img
fi

if [ ! -f demo-disks/gpt.img ]; then
  echo "Making demo-disks/gpt.img (GPT)"
  truncate -s "$size" demo-disks/gpt.img.part
  sgdisk \
    -n 1:2048:+32M -t 1:EF00 -c "1:EFI system" \
    -n 2:0:+16M -t 2:0C01 -c "2:Microsoft reserved" \
    -n 3:0:+64M -t 3:0700 -c "3:Data" \
    -n 4:0:+64M -t 4:8300 -c "4:Linux" -A 4:set:2 \
    -n 5:0:+16M -t 5:8200 -c "5:Swap" \
    demo-disks/gpt.img.part >/dev/null
  mv demo-disks/gpt.img.part demo-disks/gpt.img
fi

if [ ! -f demo-disks/empty.img ]; then
  echo "Making demo-disks/empty.img (no table)"
  truncate -s "$size" demo-disks/empty.img
fi

disks=(--disk demo-disks/gpt.img --disk demo-disks/mbr.img --disk demo-disks/empty.img)
kestrin=build-release/Kestrin

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (\$DISPLAY and \$WAYLAND_DISPLAY are unset): drawing the window offscreen."
  "$kestrin" "${disks[@]}" --print "$@"
  screenshot=demo-disks/kestrin-screenshot.png
  start=$(date +%s%N)
  QT_QPA_PLATFORM=offscreen "$kestrin" "${disks[@]}" --screenshot "$screenshot" "$@"
  end=$(date +%s%N)
  echo "Screenshot of the main window: $screenshot"
  echo "Whole run (start, first table, screenshot saved, exit): $(((end - start) / 1000000)) ms"
else
  exec "$kestrin" "${disks[@]}" "$@"
fi
