#!/usr/bin/env bash
# Draws Kestrin's icon at each size the systems ask for, on whole pixels so
# that the small sizes stay sharp: a dark drive face with a partition bar of
# three entries and an activity light. Writes kestrin-<size>.png beside this
# script and ../Kestrin.ico (the Windows programs' icon, every size in one
# file). The results are kept in the repository; run this again only after
# changing the drawing. Needs ImageMagick and icoutils.
set -euo pipefail
cd "$(dirname "$0")"
sizes=(16 20 24 32 40 48 64 128 256)

# $1 size, $2 a fraction of it: the nearest whole pixel.
at() { awk -v s="$1" -v f="$2" 'BEGIN { printf "%d", s * f + 0.5 }'; }

for s in "${sizes[@]}"; do
  edge=$(at "$s" 0.03)
  far=$(( s - 1 - edge ))
  radius=$(at "$s" 0.14)
  top=$(at "$s" 0.30)
  bottom=$(( $(at "$s" 0.64) - 1 ))
  left=$(at "$s" 0.16)
  right=$(( s - 1 - left ))
  # Three entries with a gap of at least one pixel between them.
  gap=$(( s >= 48 ? $(at "$s" 0.04) : 1 ))
  width=$(( (right - left + 1 - 2 * gap) ))
  first=$(( left + width * 2 / 5 - 1 ))
  second=$(( first + gap + 1 + width * 7 / 20 - 1 ))
  light=$(at "$s" 0.76)
  lightTop=$(at "$s" 0.76)
  lightSize=$(( s >= 32 ? $(at "$s" 0.08) : 1 ))
  /usr/bin/convert -size "${s}x${s}" xc:none \
    -fill '#37474f' -draw "roundrectangle $edge,$edge $far,$far $radius,$radius" \
    +antialias \
    -fill '#eceff1' -draw "rectangle $(( left - 1 )),$(( top - 1 )) $(( right + 1 )),$(( bottom + 1 ))" \
    -fill '#1e88e5' -draw "rectangle $left,$top $first,$bottom" \
    -fill '#43a047' -draw "rectangle $(( first + gap + 1 )),$top $second,$bottom" \
    -fill '#fb8c00' -draw "rectangle $(( second + gap + 1 )),$top $right,$bottom" \
    -fill '#ffeb3b' -draw "rectangle $light,$lightTop $(( light + lightSize )),$(( lightTop + lightSize ))" \
    -define png:exclude-chunks=date,time "PNG32:kestrin-$s.png"
done
# The .ico keeps the large size as PNG, the others as bitmaps.
icotool -c -o ../Kestrin.ico -r kestrin-256.png $(for s in "${sizes[@]}"; do [ "$s" = 256 ] || echo "kestrin-$s.png"; done)
