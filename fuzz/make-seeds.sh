#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets under fuzz/corpus/<target>/:
# the table sectors of real disk images that sfdisk and sgdisk partition
# (in the FuzzImage form, see fuzz/FuzzImage.h), the type catalogue with
# keys, and storage descriptors. The seeds are committed; run this again
# only to change them. The 4096-byte-sector images need a loop device
# (root); without one they are left out.
set -euo pipefail
cd "$(dirname "$0")"
corpus=corpus
work=$(mktemp -d)
loop=""
cleanup() {
  if [ -n "$loop" ]; then losetup --detach "$loop" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"${CXX:-c++}" -std=c++20 -O1 -o "$work/make-seed" MakeSeed.cpp
mkdir -p "$corpus"/{MbrDecoder,GptDecoder,Layout,Edit,Catalogue,Descriptor,DumpReader}

# seed NAME SECTORSIZE TARGET...: the image $work/NAME.img as a seed of each target.
seed() {
  local name=$1 size=$2
  shift 2
  "$work/make-seed" image "$work/$name.img" "$size" > "$work/$name.seed"
  for target in "$@"; do cp "$work/$name.seed" "$corpus/$target/$name"; done
}

# mbr NAME SIZE SCRIPT: an image partitioned by sfdisk.
mbr() {
  truncate -s "$2" "$work/$1.img"
  printf '%b' "$3" | sfdisk --quiet --no-reread --no-tell-kernel "$work/$1.img" >/dev/null
  seed "$1" 512 MbrDecoder Layout
}

mbr mbr-two-primaries 64M 'label: dos\nlabel-id: 0x11223344\nstart=2048, size=20480, type=83, bootable\nstart=22528, size=20480, type=7\n'
mbr mbr-four-primaries 64M 'label: dos\nstart=2048, size=8192, type=c\nstart=10240, size=8192, type=82\nstart=18432, size=8192, type=83, bootable\nstart=26624, size=8192, type=fd\n'
mbr mbr-logical-drives 64M 'label: dos\nlabel-id: 0x10C1CA15\nstart=2048, size=8192, type=83\nstart=10240, size=65536, type=5\nstart=12288, size=8192, type=83\nstart=22528, size=8192, type=7\nstart=32768, size=8192, type=82\nstart=43008, size=8192, type=b\n'
mbr mbr-extended-empty 64M 'label: dos\nstart=2048, size=8192, type=83\nstart=10240, size=65536, type=f\n'
mbr mbr-large-disk 2047G 'label: dos\nstart=2048, size=4292868096, type=7\n'

# gpt NAME SIZE SGDISK-OPTIONS...: an image partitioned by sgdisk.
gpt() {
  local name=$1 size=$2
  shift 2
  truncate -s "$size" "$work/$name.img"
  sgdisk "$@" "$work/$name.img" >/dev/null
  seed "$name" 512 GptDecoder Layout
}

gpt gpt-three 64M -o -n 1:2048:+8M -c 1:root -n 2:0:+8M -t 2:8200 -n 3:0:+8M -t 3:ef00 -A 3:set:0
gpt gpt-gap 64M -o -n 2:2048:+4M -n 7:0:+4M -t 7:0700 -c 7:data
gpt gpt-large-table 64M -o --resize-table=256 -n 1:0:+4M -n 200:0:+4M
gpt gpt-hybrid 64M -o -n 1:2048:+8M -t 1:0700 -n 2:0:+8M -h 1
gpt gpt-large-disk 3T -o -n 1:0:+1T -n 2:0:0

truncate -s 64M "$work/gpt-sfdisk.img"
printf 'label: gpt\nfirst-lba: 2048\nsize=8M, name="one"\nsize=8M, type=0657FD6D-A4AB-43C4-84E5-0933C84B4F4F\n' |
  sfdisk --quiet --no-reread --no-tell-kernel "$work/gpt-sfdisk.img" >/dev/null
seed gpt-sfdisk 512 GptDecoder Layout

# 4096-byte sectors, through a loop device.
truncate -s 64M "$work/gpt-4k.img"
if loop=$(losetup --find --show --sector-size 4096 "$work/gpt-4k.img" 2>/dev/null); then
  sgdisk -o -n 1:256:+8M -c 1:root -n 4:0:+8M -t 4:ef00 -A 4:set:2 "$loop" >/dev/null
  losetup --detach "$loop"
  loop=""
  seed gpt-4k 4096 GptDecoder Layout
else
  echo "no loop device: the 4096-byte-sector seed is left out" >&2
fi

# Edits of the layout read from a seed image, as the entry operations make
# them: edit NAME IMAGE-SEED EDIT..., each EDIT "entry offset width value"
# (value in hexadecimal, up to 16 digits).
edit() {
  local name=$1 image=$2
  shift 2
  {
    printf "\\x$(printf %02x $#)"
    for e in "$@"; do
      set -- $e
      printf "\\x$(printf %02x $(($1 - 1)))\\x$(printf %02x "$2")\\x$(printf %02x "$3")"
      local v
      v=$(printf %016x "0x$4")
      for i in 14 12 10 8 6 4 2 0; do printf "\\x${v:$i:2}"; done
    done
    cat "$work/$image.seed"
  } > "$corpus/Edit/$name"
}
edit mbr-retype mbr-two-primaries "2 32 0 0b"
edit mbr-boot mbr-two-primaries "2 33 0 1"
edit mbr-signature-and-delete mbr-logical-drives "9 32 0 0"
edit mbr-create mbr-two-primaries "3 0 130 0" "3 8 3 2a00000" "3 16 3 400000" "3 32 0 0c" "3 34 0 1"
edit gpt-attributes gpt-three "1 64 3 8000000000000001"
edit gpt-delete gpt-three "2 32 3 0" "2 40 3 0"
edit gpt-create gpt-three "4 0 130 1" "4 8 3 1a00000" "4 16 3 200000" "4 32 3 4433b9e5ebd0a0a2" "4 40 3 c79926b7b668c087"
edit gpt-4k-create gpt-4k "3 0 130 1" "3 8 3 1200000" "3 16 3 100000" "3 32 3 4433b9e5ebd0a0a2" "3 40 3 c79926b7b668c087"

# The catalogue with keys: one byte of key length, the key, the XML.
catalogue() {
  local name=$1 key=$2 xml=$3
  { printf "\\x$(printf %02x ${#key})%s" "$key"; cat "$xml"; } > "$corpus/Catalogue/$name"
}
catalogue types-guid '{0FC63DAF-8483-4772-8E79-3D69D8477DE4}' ../resources/types.xml
catalogue types-byte '0c' ../resources/types.xml
catalogue types-missing 'zz' ../resources/types.xml
printf '<?xml version="1.0" encoding="UTF-8"?>\n<r><node><Cell>aB</Cell><Desc>one</Desc></node><x/><node><Cell>ab</Cell></node></r>\n' > "$work/small.xml"
catalogue small-utf8 'AB' "$work/small.xml"

# Storage descriptors, with the position of the product string first.
"$work/make-seed" descriptor 47 "ATA" "Disk Model" "1.0" "S3ABC123" > "$corpus/Descriptor/plain"
"$work/make-seed" descriptor 41 "" "2020202057442d57" "" "2020202057442d5743415a41" > "$corpus/Descriptor/hex-serial"
"$work/make-seed" descriptor 0 "   " "	 padded  " "" "" > "$corpus/Descriptor/blank"

# Dumps as apply reads them: sfdisk's of an MBR with logical drives and of a
# GPT with names, attributes and a gap, and kestrin-cli's own of the same
# (where a built kestrin-cli is found).
sfdisk --dump "$work/mbr-logical-drives.img" > "$corpus/DumpReader/sfdisk-dos"
truncate -s 64M "$work/named.img"
sgdisk -n 1:2048:+4M -c 1:"root fs" -A 1:set:2 -n 3:0:+2M -t 3:ef00 -A 3:set:60 "$work/named.img" >/dev/null
sfdisk --dump "$work/named.img" > "$corpus/DumpReader/sfdisk-gpt"
cli=../build-release/cli/kestrin-cli
if [ -x "$cli" ]; then
  "$cli" --disk "$work/mbr-logical-drives.img" dump > "$corpus/DumpReader/dump-mbr"
  "$cli" --disk "$work/named.img" dump > "$corpus/DumpReader/dump-gpt"
fi

echo "seeds written under fuzz/$corpus"
