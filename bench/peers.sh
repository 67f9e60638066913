#!/usr/bin/env bash
# kestrin-cli against sfdisk and sgdisk, as whole processes on the same image
# files: reading a table (`show` against `sfdisk --dump` and `sgdisk -p`) and
# adding one partition (`create-partition` against `sfdisk --append` and
# `sgdisk -n`), on a 64 MiB image and on a sparse 4 TiB one.
#
# Each round runs Kestrin and its peers back to back, in an order that
# rotates from round to round so that no program always runs first, and
# takes the ratio of Kestrin's time to each peer's. A create starts every
# time from the same image: the image is put back, untimed, before each run.
# The table printed (Markdown) gives the median times and the median of the
# paired ratios; below 1 Kestrin is faster.
#
#   bench/peers.sh [KESTRIN_CLI] [SHOW_ROUNDS] [CREATE_ROUNDS]
#
# sgdisk waits about a second after it writes a table (for the kernel to
# read it again, even on an image file), so its create rounds are few.
set -euo pipefail

cli=${1:-build-release/cli/kestrin-cli}
show_rounds=${2:-101}
create_rounds=${3:-15}
[[ -x $cli ]] || { echo "no kestrin-cli at $cli (build it first)" >&2; exit 2; }
for tool in sfdisk sgdisk; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Three GPT entries leave the fourth row of Kestrin's table free for the
# entry created; the MBR image has two primaries and takes a third.
make_gpt() {
  truncate -s "$2" "$1"
  sgdisk -o -n 1:0:+32M -t 1:ef00 -n 2:0:+8M -t 2:8300 -n 3:0:+8M -t 3:8200 "$1" >/dev/null
}
make_gpt "$work/gpt-64M.tpl" 64M
make_gpt "$work/gpt-4T.tpl" 4T
truncate -s 64M "$work/mbr-64M.tpl"
printf 'label: dos\nstart=2048, size=65536, type=c, bootable\nstart=67584, size=16384, type=83\n' |
  sfdisk --quiet --no-reread --no-tell-kernel "$work/mbr-64M.tpl"

# The image every program of a round works on.
image=$work/disk.img
restore() { cp --sparse=always --reflink=never "$work/$1.tpl" "$image"; }

# Nanoseconds since the epoch from bash's own clock: a `date` process per
# reading would add its own start-up to every time measured.
now_ns() {
  local t=${EPOCHREALTIME/[.,]/}
  echo "${t}000"
}

# Runs the command held in the array named $1 once and prints its time in
# nanoseconds. The command must succeed: a failed run is no figure.
time_ns() {
  local -n command=$1
  local start end
  start=$(now_ns)
  if ! "${command[@]}" >/dev/null 2>"$work/err" <"${2:-/dev/null}"; then
    echo "failed: ${command[*]}" >&2
    cat "$work/err" >&2
    exit 1
  fi
  end=$(now_ns)
  echo $((end - start))
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ms() { awk '{ printf "%.2f", $1 / 1e6 }'; }

# bench NAME TEMPLATE ROUNDS RESTORE_EACH KESTRIN_ARRAY [PEER_ARRAY STDIN]...
# Prints one table row per peer.
bench() {
  local name=$1 template=$2 rounds=$3 fresh=$4 kestrin=$5
  shift 5
  local peers=() inputs=()
  while (($#)); do
    peers+=("$1")
    inputs+=("$2")
    shift 2
  done
  local n=$((${#peers[@]} + 1)) i j k
  : >"$work/t0"
  for ((j = 1; j < n; j++)); do : >"$work/t$j"; : >"$work/r$j"; done
  restore "$template"
  for ((i = 0; i < rounds; i++)); do
    local times=()
    for ((k = 0; k < n; k++)); do
      j=$(((i + k) % n))
      [[ $fresh == yes ]] && restore "$template"
      if ((j == 0)); then
        times[0]=$(time_ns "$kestrin")
      else
        times[j]=$(time_ns "${peers[j - 1]}" "${inputs[j - 1]}")
      fi
    done
    for ((j = 0; j < n; j++)); do echo "${times[j]}" >>"$work/t$j"; done
    for ((j = 1; j < n; j++)); do
      awk -v k="${times[0]}" -v p="${times[j]}" 'BEGIN { print k / p }' >>"$work/r$j"
    done
  done
  local kestrin_ms
  kestrin_ms=$(median <"$work/t0" | ms)
  for ((j = 1; j < n; j++)); do
    local words="${peers[j - 1]}[@]"
    local peer=("${!words}")
    printf '| %s | %s | %s ms | `%s %s` | %s ms | %s |\n' "$name" "$template" "$kestrin_ms" \
      "${peer[0]}" "${peer[1]}" "$(median <"$work/t$j" | ms)" "$(median <"$work/r$j" | awk '{ printf "%.2f", $1 }')"
  done
}

echo "| Case | Image | kestrin-cli | Peer | Peer | Ratio |"
echo "|---|---|---|---|---|---|"

mib=1048576
for size in 64M 4T; do
  tpl=gpt-$size
  show=("$cli" --disk "$image" show)
  dump=(sfdisk --dump "$image")
  print=(sgdisk -p "$image")
  bench show "$tpl" "$show_rounds" no show dump /dev/null print /dev/null

  # The new entry: 8 MiB behind entry 3, which ends at 49 MiB.
  create=("$cli" --disk "$image" --yes create-partition 0 4 --offset $((49 * mib)) --size 8 --type BASIC_DATA_GUID)
  append=(sfdisk --append --quiet --no-reread --no-tell-kernel "$image")
  echo "start=$((49 * 2048)), size=$((8 * 2048)), type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7" >"$work/append-gpt"
  new=(sgdisk -n "4:$((49 * 2048)):+8M" -t 4:0700 "$image")
  bench create "$tpl" "$create_rounds" yes create append "$work/append-gpt" new /dev/null
done

show=("$cli" --disk "$image" show)
dump=(sfdisk --dump "$image")
bench show mbr-64M "$show_rounds" no show dump /dev/null
create=("$cli" --disk "$image" --yes create-partition 0 3 --offset $((41 * mib)) --size 8 --type 0x83)
append=(sfdisk --append --quiet --no-reread --no-tell-kernel "$image")
echo "start=$((41 * 2048)), size=$((8 * 2048)), type=83" >"$work/append-mbr"
bench create mbr-64M "$show_rounds" yes create append "$work/append-mbr"
