#!/usr/bin/env bash
# Cross-builds Kestrin's core, the Windows port and the tests that need no
# Linux for 64-bit Windows with Debian's MinGW-w64 toolchain, and runs the
# tests under Wine. Exits non-zero when the build or a test fails.
#
# Everything goes to build-mingw/: the target's libraries (GoogleTest from
# Debian's googletest package, pugixml from Debian's source package, since
# Debian ships pugixml for Linux only), the build itself, and a private Wine
# prefix. Installs the toolchain and Wine with apt-get when they are missing
# (as root, or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out="$root/build-mingw"
deps="$out/deps"
prefix="$deps/prefix"
toolchain="$root/cmake/mingw-w64.cmake"
jobs=2

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev googletest
          nlohmann-json3-dev wine wine64)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
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
build="$out/kestrin"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DKESTRIN_BUILD_TESTS=ON -DKESTRIN_BUILD_UI=OFF -DKESTRIN_BUILD_BENCHMARKS=OFF >/dev/null
targets=(kestrin_core kestrin_platform kestrin_resources kestrin_tests)
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
ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 300

# The command-line program starts on Windows and answers its help.
if [ -f "$build/cli/kestrin-cli.exe" ]; then
  echo "== kestrin-cli.exe under Wine"
  wine "$build/cli/kestrin-cli.exe" --help >/dev/null
fi
