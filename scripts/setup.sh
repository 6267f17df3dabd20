#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, and fetches the
# zlib source package whose contrib/minizip the Windows build compiles.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  cmake ninja-build g++ make pkg-config
  clang libclang-rt-14-dev
  googletest zlib1g-dev libminizip-dev libpugixml-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev libz-mingw-w64-dev
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick
  dpkg-dev
  libcpp-httplib-dev libssl-dev wrk openssl coreutils
  dosbox nasm osslsigncode
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Debian's zlib source package: the mingw build compiles its contrib/minizip.
# Pinned to the version bookworm's main archive serves.
zlib_version="1:1.2.13.dfsg-1"
src="$here/build/deps/zlib-src"
if [ ! -f "$src/contrib/minizip/unzip.c" ]; then
  if [ ! -f /etc/apt/sources.list.d/vantle-src.sources ]; then
    echo "setup: adding a deb-src entry for Debian's main archive"
    # apt refuses two entries for one archive with different keyrings, so
    # reuse whatever keyring the system's own entry names.
    keyring=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '/^Signed-By:/ {print $2; exit}')
    {
      echo "Types: deb-src"
      echo "URIs: http://deb.debian.org/debian"
      echo "Suites: bookworm"
      echo "Components: main"
      if [ -n "$keyring" ]; then echo "Signed-By: $keyring"; fi
    } | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/vantle-src.sources >/dev/null
    "${sudo_cmd[@]}" apt-get update -qq
  fi
  # apt checks the files against the archive's signed index; dpkg-source
  # then checks them against the .dsc (the uploader's key is not needed).
  tmp="$(mktemp -d)"
  chmod 755 "$tmp"  # apt downloads as its own user
  (cd "$tmp" && apt-get source -qq --download-only "zlib=$zlib_version" >/dev/null && dpkg-source -x zlib_*.dsc >/dev/null 2>&1)
  rm -rf "$src"
  mkdir -p "$(dirname "$src")"
  mv "$tmp"/zlib-*/ "$src"
  rm -rf "$tmp"
  echo "setup: zlib sources in $src"
fi
