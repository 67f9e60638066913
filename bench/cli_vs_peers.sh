#!/usr/bin/env bash
# `kestrin-cli show` against `sfdisk --dump` and `sgdisk -p` on one GPT image.
# Each round runs the three programs back to back (in a rotating order, so no
# program always runs first) and takes the ratio of Kestrin's time to each
# peer's; the result is the median of those paired ratios (below 1: Kestrin
# is faster), with the median times beside them.
#
#   bench/cli_vs_peers.sh [KESTRIN_CLI] [ROUNDS]
set -euo pipefail

cli=${1:-build/cli/kestrin-cli}
rounds=${2:-101}
[[ -x $cli ]] || { echo "no kestrin-cli at $cli (build it first)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
image=$work/gpt.img
truncate -s 1G "$image"
# Eight entries, as a provisioned disk might have.
sgdisk -o -n 1:0:+100M -t 1:ef00 -n 2:0:+16M -t 2:0c01 -n 3:0:+200M -t 3:0700 -n 4:0:+100M -t 4:8300 \
  -n 5:0:+100M -t 5:8200 -n 6:0:+100M -t 6:8e00 -n 7:0:+100M -t 7:fd00 -n 8:0:0 -t 8:8300 "$image" >/dev/null

kestrin=("$cli" --disk "$image" show)
sfdisk_cmd=(sfdisk --dump "$image")
sgdisk_cmd=(sgdisk -p "$image")
# The three must succeed before anything is timed.
"${kestrin[@]}" >/dev/null
"${sfdisk_cmd[@]}" >/dev/null
"${sgdisk_cmd[@]}" >/dev/null

# Nanoseconds since the epoch. Bash's own clock where it has one: a `date`
# process per reading would add its own start-up to every time measured.
now_ns() {
  if [[ -n ${EPOCHREALTIME:-} ]]; then
    local t=${EPOCHREALTIME/[.,]/}
    echo "${t}000"
  else
    date +%s%N
  fi
}

# Nanoseconds one run of the named command takes.
time_ns() {
  local -n command=$1
  local start end
  start=$(now_ns)
  "${command[@]}" >/dev/null 2>&1
  end=$(now_ns)
  echo $((end - start))
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/k" ; : >"$work/f" ; : >"$work/g" ; : >"$work/rf" ; : >"$work/rg"
for ((i = 0; i < rounds; i++)); do
  case $((i % 3)) in
    0) tk=$(time_ns kestrin); tf=$(time_ns sfdisk_cmd); tg=$(time_ns sgdisk_cmd) ;;
    1) tf=$(time_ns sfdisk_cmd); tg=$(time_ns sgdisk_cmd); tk=$(time_ns kestrin) ;;
    2) tg=$(time_ns sgdisk_cmd); tk=$(time_ns kestrin); tf=$(time_ns sfdisk_cmd) ;;
  esac
  echo "$tk" >>"$work/k"; echo "$tf" >>"$work/f"; echo "$tg" >>"$work/g"
  awk -v k="$tk" -v p="$tf" 'BEGIN { print k / p }' >>"$work/rf"
  awk -v k="$tk" -v p="$tg" 'BEGIN { print k / p }' >>"$work/rg"
done

ms() { awk '{ printf "%.2f ms", $1 / 1e6 }'; }
echo "rounds: $rounds, GPT image of 1 GiB with 8 entries"
echo "median kestrin-cli show: $(median <"$work/k" | ms)"
echo "median sfdisk --dump:    $(median <"$work/f" | ms)"
echo "median sgdisk -p:        $(median <"$work/g" | ms)"
echo "median ratio kestrin-cli show / sfdisk --dump: $(median <"$work/rf" | awk '{ printf "%.3f", $1 }')"
echo "median ratio kestrin-cli show / sgdisk -p:     $(median <"$work/rg" | awk '{ printf "%.3f", $1 }')"
