#!/usr/bin/env bash
# Cross-builds Kestrin for 64-bit Windows with Debian's MinGW-w64 toolchain:
# the core, the ports, kestrin-cli.exe, Kestrin.exe (the native window
# program) and the tests that need no Linux; runs the tests under Wine; drives
# Kestrin.exe from a second Windows program over images made by sfdisk and
# sgdisk and checks with them what it wrote, and lays its window out at 150 %
# and 200 %; builds the release archive and the installer, starts both
# programs from the archive, installs the installer under Wine, starts both
# programs where it put them, installs a newer version over it and
# uninstalls it; and takes pictures of the windows under Xvfb
# (build-mingw/pictures/*.png, and at 200 % in build-mingw/pictures/200/).
# Exits non-zero when a build or a check fails.
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

# Sets the screen's scale, Wine's DPI setting (96 is 100 %), and restarts
# the prefix's server, which reads it when it starts.
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
}

# Inside Xvfb (the script calls itself there, as --take-pictures IMAGES
# FOLDER DPI SCREEN): Kestrin.exe in a Wine desktop of its own, of the size
# SCREEN and at the DPI given, which draws the windows' frames as the system
# does; the driver holds each window up and says where it is, and `import`
# takes it into FOLDER.
if [ "${1:-}" = "--take-pictures" ]; then
  images=$2
  pictures=$3
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$4" /f >/dev/null 2>&1
  set_graphics x11
  wine explorer /desktop=Kestrin,"$5" "$build/tests/windows/KestrinWindowTest.exe" \
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
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
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
          nlohmann-json3-dev wine wine64 fonts-wine fdisk gdisk zip unzip wixl msitools)
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
# would ask for them. No menu builder: the installer's Start menu shortcut
# stays inside the prefix instead of reaching the desktop of the machine.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
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

echo "== Kestrin.exe laid out at 150 % and 200 %"
make_images "$out/dpi-images"
for dpi in 144 192; do
  set_dpi "$dpi"
  if ! timeout 120 wine "$build/tests/windows/KestrinWindowTest.exe" --gtest_filter=KestrinWindow.OpensOnAnImageAndClosesAgain \
    --dpi "$dpi" --kestrin "$(winepath -w "$build/Kestrin.exe")" --images "$(winepath -w "$out/dpi-images")" \
    >"$out/dpi-$dpi.log" 2>&1; then
    cat "$out/dpi-$dpi.log" >&2
    echo "windows-check: Kestrin.exe's window is not laid out for $dpi pixels per inch" >&2
    exit 1
  fi
done
set_dpi 96

echo "== What the window wrote, as sfdisk and sgdisk read it"
expect "mbr.img's disk identifier" "$(sfdisk --dump "$images/mbr.img" | sed -n 's/^label-id: //p')" "0x01020304"
expect "mbr.img's entries" "$(sfdisk_entries "$images/mbr.img")" "2 start= 2048, size= 32768, type=1b"
expect "gpt.img's entries" "$(sgdisk_entries "$images/gpt.img")" "2 34816 51199 2700"
expect "gpt.img's entry 2 attributes" "$(sgdisk -i 2 "$images/gpt.img" | sed -n 's/^Attribute flags: //p')" \
  "8000000000000001"
expect "gpt.img's check by sgdisk" "$(sgdisk -v "$images/gpt.img" | grep -c '^No problems found')" "1"
# A fresh MBR's signature is random and never 0.
expect "empty.img's table" "$(sfdisk --dump "$images/empty.img" | sed -n 's/^label\(-id\)*: //p' |
  sed 's/^0x[0-9a-f]*[1-9a-f][0-9a-f]*$/a new signature/' | tr '\n' ' ')" "dos a new signature "
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
# Sector 0 but for the random signature (bytes 440 to 443).
sector0_without_signature() { head -c 440 "$1"; tail -c +445 "$1" | head -c 68; }
expect "empty.img's table written by the window and by kestrin-cli" \
  "$(cmp <(sector0_without_signature "$images/empty.img") <(sector0_without_signature "$replay/empty.img") &&
    echo same)" "same"
if [ "$failures" -gt 0 ]; then
  echo "windows-check: $failures checks of the images failed" >&2
  exit 1
fi

echo "== Release archive and installer"
{ read -r archive; read -r installer; } < <(bash scripts/release-windows.sh "$build" "$out/release")
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

echo "== The installer under Wine: install, start, upgrade, uninstall"
# A newer version of the same installer, to install over the first.
version=$(sed -n 's/^project(Kestrin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
{ read -r _; read -r newer; } < <(KESTRIN_MSI_VERSION="$version.1" bash scripts/release-windows.sh "$build" "$out/release-newer")
installed="$WINEPREFIX/drive_c/Program Files/Kestrin"
installed_windows='C:\Program Files\Kestrin'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# What the installer leaves in the prefix: the programs' folder, the Start
# menu shortcut, each uninstall entry of Kestrin with its version, whether
# the system's PATH names the folder, and the installer's own registry key.
shortcuts() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Kestrin.lnk' | wc -l; }
uninstall_entries() {
  wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ { name = ""; version = "" } /DisplayName/ { name = $3 } /DisplayVersion/ { version = $3 }
         name == "Kestrin" && version != "" { print name, version; name = "" }'
}
on_path() {
  wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH 2>/dev/null |
    tr -d '\r' | grep -oiF "$installed_windows" | wc -l
}
registry_key() { wine reg query 'HKLM\Software\Kestrin' >/dev/null 2>&1 && echo present || echo absent; }
files() { if [ -d "$installed" ]; then (cd "$installed" && ls | tr '\n' ' '); else echo none; fi; }
msiexec() {
  if ! wine msiexec "$@" /qn; then
    echo "windows-check: msiexec $* failed" >&2
    exit 1
  fi
  # The environment a new process starts with comes from the registry when
  # the prefix's server starts.
  set_graphics null
}
everything_installed="Kestrin.exe LICENSE.txt README-Windows.txt kestrin-cli.exe "
nothing_left() {
  expect "$1: the programs' folder" "$(files)" "none"
  expect "$1: the Start menu shortcut" "$(shortcuts)" "0"
  expect "$1: the uninstall entries" "$(uninstall_entries)" ""
  expect "$1: the PATH entry" "$(on_path)" "0"
  expect "$1: the installer's registry key" "$(registry_key)" "absent"
}

# An installation an interrupted run left behind goes first, by its product
# code.
wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' |
  awk '/^HKEY/ { key = $0 } /DisplayName +REG_SZ +Kestrin$/ { sub(/.*\\/, "", key); print key }' |
  while read -r product; do wine msiexec /x "$product" /qn; done
nothing_left "before the installation"

msiexec /i "$(winepath -w "$installer")"
expect "installed files" "$(files)" "$everything_installed"
expect "the Start menu shortcut" "$(shortcuts)" "1"
expect "the uninstall entry" "$(uninstall_entries)" "Kestrin $version.0"
expect "the folder on the system's PATH" "$(on_path)" "1"
make_images "$out/installed-images"
# Wine looks a program named without a folder up in the current folder
# (here one without it), then along the PATH, as Windows does.
expect "the installed kestrin-cli.exe, found through the PATH" \
  "$(cd "$out" && wine kestrin-cli.exe --disk "$(winepath -w "$out/installed-images/gpt.img")" show | head -1 | tr -d '\r')" \
  "Style: GPT, Count=1"
if ! wine "$build/tests/windows/KestrinWindowTest.exe" --gtest_filter=KestrinWindow.OpensOnAnImageAndClosesAgain \
  --kestrin "$installed_windows\Kestrin.exe" --images "$(winepath -w "$out/installed-images")" \
  >"$out/release/installed.log" 2>&1; then
  cat "$out/release/installed.log" >&2
  echo "windows-check: the installed Kestrin.exe did not open and close on an image" >&2
  failures=$((failures + 1))
fi

msiexec /i "$(winepath -w "$newer")"
expect "after the newer version: installed files" "$(files)" "$everything_installed"
expect "after the newer version: the one uninstall entry" "$(uninstall_entries)" "Kestrin $version.1"
expect "after the newer version: the Start menu shortcut" "$(shortcuts)" "1"
expect "after the newer version: the folder on the PATH, once" "$(on_path)" "1"
msiexec /x "$(winepath -w "$newer")"
nothing_left "after the uninstall"

# Without the PATH entry.
msiexec /i "$(winepath -w "$installer")" ADD_TO_PATH=0
expect "with ADD_TO_PATH=0: installed files" "$(files)" "$everything_installed"
expect "with ADD_TO_PATH=0: the PATH entry" "$(on_path)" "0"
msiexec /x "$(winepath -w "$installer")"
nothing_left "after the uninstall of the installation without the PATH entry"
if [ "$failures" -gt 0 ]; then
  echo "windows-check: $failures checks of the installer failed" >&2
  exit 1
fi
echo "windows-check: $installer ($(stat -c %s "$installer") bytes) installs, upgrades and uninstalls"

echo "== Pictures of the windows under Xvfb"
if ! command -v xvfb-run >/dev/null || ! command -v import >/dev/null; then
  echo "windows-check: no pictures taken: Xvfb (xvfb-run) or ImageMagick (import) is missing"
else
  rm -rf "$pictures"
  # A Wine desktop now and then does not start its program; the step is
  # tried twice. The pictures are for people to look at: the driven test
  # above has judged the windows, so pictures that cannot be taken are
  # reported and the check goes on. At 100 % on a screen of 1024 x 768, and
  # at 200 % on one of twice that.
  for scale in "$pictures 96 1024x768" "$pictures/200 192 2048x1536"; do
    read -r folder dpi screen <<<"$scale"
    mkdir -p "$folder"
    taken=false
    for attempt in 1 2; do
      make_images "$out/picture-images"
      if timeout 300 xvfb-run -a -s "-screen 0 ${screen}x24" bash "$0" --take-pictures "$out/picture-images" "$folder" \
        "$dpi" "$screen"; then
        taken=true
        break
      fi
      echo "windows-check: the pictures could not all be taken (attempt $attempt); see $folder/driver.log" >&2
      set_dpi 96
      set_graphics null
    done
    if $taken; then
      echo "windows-check: pictures in $folder: ${picture_names[*]/%/.png}"
    else
      echo "windows-check: NO PICTURES in $folder: Kestrin.exe's windows could not be rendered under Xvfb this time"
    fi
  done
fi
