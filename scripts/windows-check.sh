#!/usr/bin/env bash
# Cross-builds Kestrin for 64-bit Windows with Debian's MinGW-w64 toolchain:
# the core, the ports, kestrin-cli.exe, Kestrin.exe (the native window
# program) and the tests that need no Linux; runs the tests under Wine; drives
# Kestrin.exe from a second Windows program over images made by sfdisk and
# sgdisk and checks with them what it wrote; builds the release archive and
# starts both programs from it; and takes pictures of the windows under Xvfb
# (build-mingw/pictures/*.png). Exits non-zero when a build or a check fails.
#
# Everything goes to build-mingw/: the target's libraries (GoogleTest from
# Debian's googletest package, pugixml from Debian's source package, since
# Debian ships pugixml for Linux only), the build itself, and a private Wine
# prefix. Installs the toolchain, Wine and the peers with apt-get when they
# are missing (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out="$root/build-mingw"
build="$out/kestrin"
pictures="$out/pictures"
# The windows the pictures show, in the order the driver holds them up.
picture_names=(main create-partition change-type partition-style disks confirmation message input-box error-report)

# Sets Wine's display driver ("null": windows without a display; "x11") and
# restarts the prefix's server, without which a running server keeps the old.
set_graphics() {
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$1" /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
}

# Inside Xvfb (the script calls itself there): Kestrin.exe in a Wine desktop
# of its own, which draws the windows' frames as the system does; the driver
# holds each window up and says where it is, and `import` takes it.
if [ "${1:-}" = "--take-pictures" ]; then
  images=$2
  set_graphics x11
  wine explorer /desktop=Kestrin,1024x768 "$build/tests/windows/KestrinWindowTest.exe" \
    --gtest_filter=KestrinWindow.ShowsEachWindowForItsPicture --kestrin "$(winepath -w "$build/Kestrin.exe")" \
    --images "$(winepath -w "$images")" --pictures "$(winepath -w "$pictures")" >"$pictures/driver.log" 2>&1 &
  for name in "${picture_names[@]}"; do
    for _ in $(seq 600); do
      [ -f "$pictures/$name.ready" ] && break
      sleep 0.1
    done
    if [ ! -f "$pictures/$name.ready" ]; then
      echo "windows-check: the driver never held up '$name'" >&2
      # Ends the Wine desktop and the driver with it, so that the wait below
      # does not wait for ever.
      wineserver -k >/dev/null 2>&1 || true
      break
    fi
    read -r x y width height <"$pictures/$name.ready"
    import -window root -crop "${width}x${height}+${x}+${y}" +repage "$pictures/$name.png"
    touch "$pictures/$name.done"
  done
  wait
  set_graphics null
  grep -q '^\[  PASSED  \] 1 test' "$pictures/driver.log"
  exit
fi
deps="$out/deps"
prefix="$deps/prefix"
toolchain="$root/cmake/mingw-w64.cmake"
jobs=2

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev googletest
          nlohmann-json3-dev wine wine64 fonts-wine fdisk gdisk zip unzip)
# For the pictures only; the check goes on without them.
picture_packages=(xvfb xauth imagemagick)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
missing_pictures=()
for p in "${picture_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing_pictures+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ] || [ ${#missing_pictures[@]} -gt 0 ]; then
  echo "== Installing: ${missing[*]} ${missing_pictures[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  if [ ${#missing_pictures[@]} -gt 0 ]; then
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing_pictures[@]}" >/dev/null || true
  fi
fi

mkdir -p "$deps"

# GoogleTest, from the sources the googletest package installs.
if [ ! -f "$deps/googletest.done" ]; then
  echo "== GoogleTest for Windows"
  cmake -S /usr/src/googletest -B "$deps/build/googletest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON >/dev/null
  ninja -C "$deps/build/googletest" -j"$jobs" install >/dev/null
  touch "$deps/googletest.done"
fi

# pugixml, from Debian's source package. apt-get fetches it with a private
# list of source indexes, so the machine's apt configuration is left as it
# is; apt checks the files against the signed index. The private list holds
# a deb-src twin of every deb entry the machine's apt sources name (one-line
# lists and deb822 .sources files), with their URIs, suites, components and
# options as configured.
if [ ! -f "$deps/pugixml.done" ]; then
  echo "== pugixml for Windows"
  apt_dir="$deps/apt"
  rm -rf "$apt_dir/parts"
  mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$deps/src"
  # Where the machine keeps its sources, as apt itself sees it.
  list=/etc/apt/sources.list parts=/etc/apt/sources.list.d/
  eval "$(apt-config shell list Dir::Etc::SourceList/f parts Dir::Etc::SourceParts/d)"
  # One-line form: "deb [options] URI SUITE [COMPONENT...]" becomes
  # "deb-src [options] URI SUITE [COMPONENT...]".
  : >"$apt_dir/sources.list"
  for f in "$list" "$parts"*.list; do
    if [ -f "$f" ]; then
      sed -nE 's/#.*//; s/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f" >>"$apt_dir/sources.list"
    fi
  done
  # deb822 form: each stanza whose Types name deb, unless "Enabled: no", is
  # copied with "Types: deb-src"; its other fields (continuation lines, such
  # as an inline Signed-By key, included) stay as they are.
  : >"$apt_dir/parts/machine.sources"
  for f in "$parts"*.sources; do
    if [ -f "$f" ]; then
      awk '
        function flush() {
          if (n > 0 && (" " types " ") ~ /[[:space:]]deb[[:space:]]/ && enabled != "no") {
            print "Types: deb-src"
            for (i = 1; i <= n; i++) print lines[i]
            print ""
          }
          n = 0; types = ""; enabled = ""; field = ""
        }
        /^#/ { next }
        /^[[:space:]]*$/ { flush(); next }
        /^[[:space:]]/ { if (field == "types") types = types " " $0; else lines[++n] = $0; next }
        {
          field = tolower(substr($0, 1, index($0, ":") - 1))
          value = substr($0, index($0, ":") + 1)
          if (field == "types") { types = value; next }
          if (field == "enabled") { enabled = tolower(value); gsub(/[[:space:]]/, "", enabled) }
          lines[++n] = $0
        }
        END { flush() }
      ' "$f" >>"$apt_dir/parts/machine.sources"
    fi
  done
  if ! grep -q '^deb-src ' "$apt_dir/sources.list" && ! grep -q '^Types: deb-src' "$apt_dir/parts/machine.sources"; then
    echo "windows-check: no deb entry in the machine's apt sources ($list, ${parts}*.list, ${parts}*.sources)" \
      "to take a deb-src entry from, so pugixml's source cannot be fetched" >&2
    exit 1
  fi
  apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/parts"
               -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
               -o APT::Sandbox::User="$(id -un)" -o Debug::NoLocking=1)
  apt-get "${apt_options[@]}" -qq update
  (cd "$deps/src" && apt-get "${apt_options[@]}" -qq source --download-only pugixml >/dev/null)
  rm -rf "$deps/src/pugixml"
  mkdir -p "$deps/src/pugixml"
  tar -xf "$deps"/src/pugixml_*.orig.tar.* -C "$deps/src/pugixml" --strip-components=1
  cmake -S "$deps/src/pugixml" -B "$deps/build/pugixml" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DPUGIXML_BUILD_TESTS=OFF >/dev/null
  ninja -C "$deps/build/pugixml" -j"$jobs" install >/dev/null
  touch "$deps/pugixml.done"
fi

# nlohmann-json is header-only: its headers and CMake package go into the
# target's prefix as they are, so kestrin-cli finds them without the host's
# include folder (which holds glibc's headers) entering the cross build.
mkdir -p "$prefix/include" "$prefix/share/cmake"
cp -r /usr/include/nlohmann "$prefix/include/"
cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"

echo "== Cross build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DKESTRIN_BUILD_TESTS=ON -DKESTRIN_BUILD_UI=OFF -DKESTRIN_BUILD_BENCHMARKS=OFF >/dev/null
targets=(kestrin_core kestrin_platform kestrin_resources kestrin_tests Kestrin KestrinWindowTest)
# The command-line program, once it is part of the tree.
if ninja -C "$build" -t targets all | grep -q '^kestrin-cli: phony'; then
  targets+=(kestrin-cli)
fi
ninja -C "$build" -j"$jobs" "${targets[@]}"

echo "== Tests under Wine"
export WINEPREFIX="$out/wine"
export WINEDEBUG=-all
# No Mono or Gecko: console programs need neither, and their installers
# would ask for them.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# The prefix's server would otherwise outlive the script.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineboot --init >/dev/null 2>&1 || true
# Wine's own fonts (MS Sans Serif, Tahoma, Marlett for the caption buttons)
# go where this Wine looks for the system's fonts.
cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
# Windows without a display: they exist and answer messages, nothing is
# drawn. A crash ends the program at once rather than waiting in a dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
set_graphics null
ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 300

# The command-line program starts on Windows and answers its help; an image
# whose name is not in the ANSI code page is found by its whole name.
if [ -f "$build/cli/kestrin-cli.exe" ]; then
  echo "== kestrin-cli.exe under Wine"
  wine "$build/cli/kestrin-cli.exe" --help >/dev/null
  named="$out/wine-images/дискώ.img"
  mkdir -p "$out/wine-images"
  truncate -s 16M "$named"
  printf 'label: gpt\nstart=2048, size=4096\n' | sfdisk -q "$named"
  shown=$(wine "$build/cli/kestrin-cli.exe" --disk "$(winepath -w "$named")" show | head -1 | tr -d '\r')
  rm -f "$named"
  if [ "$shown" != "Style: GPT, Count=1" ]; then
    echo "windows-check: kestrin-cli.exe did not read an image with a non-ANSI name: '$shown'" >&2
    exit 1
  fi
fi

# The images the window works on, made by the peers: disk 0 an MBR with a
# bootable entry at 1 MiB of 16 MiB (type 0x83), disk 1 a GPT with one such
# entry (a Linux file system's type), disk 2 empty.
make_images() {
  rm -rf "$1"
  mkdir -p "$1"
  truncate -s 64M "$1/mbr.img"
  printf 'label: dos\nlabel-id: 0x11223344\nstart=2048, size=32768, type=83, bootable\n' | sfdisk -q "$1/mbr.img"
  truncate -s 64M "$1/gpt.img"
  sgdisk -o -n 1:2048:+16M -t 1:8300 "$1/gpt.img" >/dev/null
  truncate -s 32M "$1/empty.img"
}

# kestrin-cli on the three images of folder $1, for the cross-checks: the
# Linux build of the same editor layer (the Qt window's platform) when there
# is one, else the Windows build.
linux_cli=""
for candidate in "$root/build-release/cli/kestrin-cli" "$root/build/cli/kestrin-cli"; do
  if [ -x "$candidate" ]; then
    linux_cli=$candidate
    break
  fi
done
cli_on() {
  local dir=$1
  shift
  if [ -n "$linux_cli" ]; then
    "$linux_cli" --disk "$dir/mbr.img" --disk "$dir/gpt.img" --disk "$dir/empty.img" "$@"
  else
    wine "$build/cli/kestrin-cli.exe" --disk "$(winepath -w "$dir/mbr.img")" --disk "$(winepath -w "$dir/gpt.img")" \
      --disk "$(winepath -w "$dir/empty.img")" "$@"
  fi
}

failures=0
expect() {
  if [ "$2" != "$3" ]; then
    echo "windows-check: $1:" >&2
    echo "  expected: $3" >&2
    echo "  found:    $2" >&2
    failures=$((failures + 1))
  fi
}
# Partition lines of sfdisk's dump, blanks folded, without the image's name.
sfdisk_entries() { sfdisk --dump "$1" | sed -n 's/^.*\.img\([0-9]*\) *: */\1 /p' | tr -s ' '; }
# The entries sgdisk lists: number, first and last sector, type code.
sgdisk_entries() { sgdisk -p "$1" | awk '/^ +[0-9]+ +[0-9]+ +[0-9]+ / { print $1, $2, $3, $6 }'; }

echo "== Kestrin.exe driven under Wine"
images="$out/window-images"
make_images "$images"
started=$(date +%s%N)
timeout 600 wine "$build/tests/windows/KestrinWindowTest.exe" --gtest_filter=KestrinWindow.RunsEveryCommandOnTheImages:KestrinWindow.AFailedReadAtStartShowsItsMessageAndAnEmptyTable \
  --kestrin "$(winepath -w "$build/Kestrin.exe")" --images "$(winepath -w "$images")"
echo "windows-check: the driven run took $(( ($(date +%s%N) - started) / 1000000 )) ms"

echo "== What the window wrote, as sfdisk and sgdisk read it"
expect "mbr.img's disk identifier" "$(sfdisk --dump "$images/mbr.img" | sed -n 's/^label-id: //p')" "0x01020304"
expect "mbr.img's entries" "$(sfdisk_entries "$images/mbr.img")" "2 start= 2048, size= 32768, type=1b"
expect "gpt.img's entries" "$(sgdisk_entries "$images/gpt.img")" "2 34816 51199 2700"
expect "gpt.img's entry 2 attributes" "$(sgdisk -i 2 "$images/gpt.img" | sed -n 's/^Attribute flags: //p')" \
  "8000000000000001"
expect "gpt.img's check by sgdisk" "$(sgdisk -v "$images/gpt.img" | grep -c '^No problems found')" "1"
expect "empty.img's table" "$(sfdisk --dump "$images/empty.img" | sed -n 's/^label\(-id\)*: //p' | tr '\n' ' ')" \
  "dos 0x01020304 "
expect "empty.img's entries" "$(sfdisk_entries "$images/empty.img")" ""

echo "== The same commands from kestrin-cli${linux_cli:+ on Linux}: same tables, same bytes"
for disk in 0 1 2; do
  expect "disk $disk's table in the window and from kestrin-cli" "$(cat "$images/window-$disk.txt")" \
    "$(cli_on "$images" show "$disk" | tr -d '\r')"
done
replay="$out/cli-images"
make_images "$replay"
{
  cli_on "$replay" --yes create-partition 0 2 --offset 17825792 --size 8 --type FAT32 --boot
  cli_on "$replay" --yes set-type 0 1 "HIDDEN FAT32"
  cli_on "$replay" --yes set-boot 0 1 false
  cli_on "$replay" --yes set-disk-id 0 '$01020304'
  cli_on "$replay" --yes make-first 0 2
  cli_on "$replay" --yes delete-partition 0 1
  cli_on "$replay" --yes create-partition 1 2 --offset 17825792 --size 8
  cli_on "$replay" --yes set-type 1 2 MSFT_RECOVERY_GUID
  cli_on "$replay" --yes set-attributes 1 2 '$8000000000000001'
  cli_on "$replay" --yes delete-partition 1 1
  cli_on "$replay" --yes create-disk 2 gpt
  cli_on "$replay" --yes create-partition 2 1 --offset 1048576 --size 4
  cli_on "$replay" --yes delete-layout 2
  cli_on "$replay" --yes create-disk 2 mbr
} >/dev/null 2>&1
expect "mbr.img written by the window and by kestrin-cli" \
  "$(cmp "$images/mbr.img" "$replay/mbr.img" && echo same)" "same"
# A GPT's identifiers are random: everything else must be the same (but
# the image's path that sgdisk names).
without_guids() { sgdisk -p "$1" | grep -v -e 'GUID' -e '^Disk /'; sgdisk -i 2 "$1" | grep -v 'unique GUID'; }
expect "gpt.img written by the window and by kestrin-cli" "$(without_guids "$images/gpt.img")" \
  "$(without_guids "$replay/gpt.img")"
expect "empty.img's table written by the window and by kestrin-cli" \
  "$(cmp -n 512 "$images/empty.img" "$replay/empty.img" && echo same)" "same"
if [ "$failures" -gt 0 ]; then
  echo "windows-check: $failures checks of the images failed" >&2
  exit 1
fi

echo "== Release archive"
archive=$(bash scripts/release-windows.sh "$build" "$out/release")
name=$(basename "$archive" .zip)
expect "the archive's files" "$(unzip -Z1 "$archive" | sort | tr '\n' ' ')" \
  "$name/ $name/Kestrin.exe $name/LICENSE.txt $name/README-Windows.txt $name/kestrin-cli.exe "
unpacked="$out/release/unpacked"
rm -rf "$unpacked"
unzip -q "$archive" -d "$unpacked"
expect "kestrin-cli.exe --help from the archive" \
  "$(wine "$unpacked/$name/kestrin-cli.exe" --help | head -1 | cut -d' ' -f1-2)" "usage: kestrin-cli"
make_images "$out/release/images"
if ! wine "$build/tests/windows/KestrinWindowTest.exe" --gtest_filter=KestrinWindow.OpensOnAnImageAndClosesAgain \
  --kestrin "$(winepath -w "$unpacked/$name/Kestrin.exe")" --images "$(winepath -w "$out/release/images")" \
  >"$out/release/start.log" 2>&1; then
  cat "$out/release/start.log" >&2
  echo "windows-check: Kestrin.exe from the archive did not open and close on an image" >&2
  failures=$((failures + 1))
fi
if [ "$failures" -gt 0 ]; then
  exit 1
fi
echo "windows-check: $archive ($(stat -c %s "$archive") bytes; Kestrin.exe $(stat -c %s "$unpacked/$name/Kestrin.exe") bytes)"

echo "== Pictures of the windows under Xvfb"
if ! command -v xvfb-run >/dev/null || ! command -v import >/dev/null; then
  echo "windows-check: no pictures taken: Xvfb (xvfb-run) or ImageMagick (import) is missing"
else
  rm -rf "$pictures"
  mkdir -p "$pictures"
  # A Wine desktop now and then does not start its program; the step is
  # tried twice. The pictures are for people to look at: the driven test
  # above has judged the windows, so pictures that cannot be taken are
  # reported and the check goes on.
  taken=false
  for attempt in 1 2; do
    make_images "$out/picture-images"
    if timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --take-pictures "$out/picture-images"; then
      taken=true
      break
    fi
    echo "windows-check: the pictures could not all be taken (attempt $attempt); see $pictures/driver.log" >&2
    set_graphics null
  done
  if $taken; then
    echo "windows-check: pictures in $pictures: ${picture_names[*]/%/.png}"
  else
    echo "windows-check: NO PICTURES: Kestrin.exe's windows could not be rendered under Xvfb this time"
  fi
fi
