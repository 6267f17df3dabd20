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
  libboost-dev libcpp-httplib-dev libssl-dev wrk openssl coreutils rsync bsdiff
  dosbox nasm genisoimage osslsigncode debootstrap
  nginx-light
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
  # nginx is only the peer of the server's load run: RUNLEVEL=1 keeps its
  # package from starting a server of its own.
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive RUNLEVEL=1 \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The system's own entry for its release's main archive, as "URIs: ..." and,
# when it names one, "Signed-By: ..." (with any continuation lines): from the
# deb822 files first, then from one-line entries. Prints nothing when there
# is none. Our own entry is not read, so that it follows the system's.
system_archive_entry() {
  local codename="$1" files=() f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$(basename "$f")" != vantle-src.sources ] && files+=("$f")
  done
  local found=""
  if [ "${#files[@]}" -gt 0 ]; then
    found=$(awk -v cn="$codename" '
      function flush() {
        if (!done && uris != "" && tolower(enabled) != "no" &&
            (" " types " ") ~ / deb / && (" " suites " ") ~ (" " cn " ")) {
          print "URIs: " uris
          if (signedBy != "") print "Signed-By:" (signedBy ~ /^\n/ ? "" : " ") signedBy
          done = 1
        }
        types = uris = suites = enabled = signedBy = field = ""
      }
      FNR == 1 { flush() }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/ { if (field == "signed-by") signedBy = signedBy "\n" $0; next }
      {
        colon = index($0, ":")
        field = tolower(substr($0, 1, colon - 1))
        value = substr($0, colon + 1)
        sub(/^[ \t]+/, "", value); sub(/[ \t]+$/, "", value)
        if (field == "types") types = value
        else if (field == "uris") uris = value
        else if (field == "suites") suites = value
        else if (field == "enabled") enabled = value
        else if (field == "signed-by") signedBy = value
      }
      END { flush() }' "${files[@]}")
  fi
  if [ -z "$found" ]; then
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$f" ] || continue
      found=$(awk -v cn="$codename" '
        $1 == "deb" {
          i = 2; opts = ""
          if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) opts = opts " " $(i++); opts = opts " " $(i++) }
          if ($(i + 1) != cn) next
          print "URIs: " $i
          if (match(opts, /signed-by=[^] ]+/)) print "Signed-By: " substr(opts, RSTART + 10, RLENGTH - 10)
          exit
        }' "$f")
      [ -n "$found" ] && break
    done
  fi
  printf '%s' "$found"
}

# Debian's zlib source package: the mingw build compiles its contrib/minizip.
# Pinned to the version bookworm's main archive serves.
zlib_version="1:1.2.13.dfsg-1"
src="$here/build/deps/zlib-src"
if [ ! -f "$src/contrib/minizip/unzip.c" ]; then
  # A deb-src entry for the archive the system already uses: its addresses
  # and keyring (apt refuses two entries for one archive with different
  # keyrings). Written again only when the system's entry has changed.
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  entry=$(system_archive_entry "$codename")
  if [ -z "$codename" ] || [ -z "$entry" ]; then
    echo "setup: no package source for Debian ${codename:-(unknown release)} found in /etc/apt" >&2
    exit 1
  fi
  wanted=$(printf 'Types: deb-src\n%s\nSuites: %s\nComponents: main\n%s\n' \
    "$(printf '%s\n' "$entry" | head -n 1)" "$codename" "$(printf '%s\n' "$entry" | tail -n +2)")
  if [ "$(cat /etc/apt/sources.list.d/vantle-src.sources 2>/dev/null)" != "$wanted" ]; then
    echo "setup: adding a deb-src entry beside the system's own package source"
    printf '%s\n' "$wanted" | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/vantle-src.sources >/dev/null
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

# DOSBox-X, which Debian 12 does not package, from the next release in a
# private root outside the clone (so that every clone reuses it), made by
# debootstrap from the archive the system's own apt configuration names. Its
# dosbox-x runs from outside the root through the root's own loader and
# library folders: "run-dosbox-x" beside the root does that. A root is reused
# only once it is finished and its dosbox-x has run; anything else is made
# again.
dosbox_x_release=trixie
dosbox_x_root="${VANTLE_DOSBOX_X_ROOT:-/var/cache/vantle/dosbox-x-$dosbox_x_release}"
dosbox_x_runner="$dosbox_x_root.run-dosbox-x"
if [ ! -f "$dosbox_x_root/.vantle-ready" ] || [ ! -x "$dosbox_x_runner" ]; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  entry=$(system_archive_entry "$codename")
  archive=$(printf '%s\n' "$entry" | sed -n 's/^URIs: *\([^ ]*\).*/\1/p' | head -n 1)
  keyring=$(printf '%s\n' "$entry" | sed -n 's/^Signed-By: *\(\/[^ ]*\)$/\1/p' | head -n 1)
  [ -n "$keyring" ] || keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  if [ -z "$archive" ]; then
    echo "setup: no Debian archive found in /etc/apt to make the DOSBox-X root from" >&2
    exit 1
  fi
  echo "setup: making DOSBox-X's root in $dosbox_x_root from $archive ($dosbox_x_release, about 570 MB)"
  "${sudo_cmd[@]}" rm -rf "$dosbox_x_root" "$dosbox_x_runner"
  "${sudo_cmd[@]}" mkdir -p "$(dirname "$dosbox_x_root")"
  "${sudo_cmd[@]}" debootstrap --variant=minbase --include=dosbox-x --keyring="$keyring" \
    "$dosbox_x_release" "$dosbox_x_root" "$archive" >"$dosbox_x_root.log" 2>&1 || {
    echo "setup: debootstrap failed; its log is $dosbox_x_root.log" >&2
    exit 1
  }
  # The loader and library folders of the root, never the system's.
  libs="$dosbox_x_root/usr/lib/x86_64-linux-gnu"
  printf '%s\n' '#!/bin/sh' \
    "# DOSBox-X of the $dosbox_x_release root beside this file, run through that root's own loader." \
    "root='$dosbox_x_root'" \
    'libs="$root/usr/lib/x86_64-linux-gnu"' \
    'exec "$libs/ld-linux-x86-64.so.2" --library-path "$libs:$libs/pulseaudio" "$root/usr/bin/dosbox-x" "$@"' \
    | "${sudo_cmd[@]}" tee "$dosbox_x_runner" >/dev/null
  "${sudo_cmd[@]}" chmod 755 "$dosbox_x_runner"
  # "-version" prints the version and ends with status 1, which pipefail
  # would take for a failure of the whole pipe: keep its words, not its status.
  version=$(SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$dosbox_x_runner" -version 2>&1 || true)
  if ! printf '%s\n' "$version" | grep -q '^DOSBox-X version'; then
    echo "setup: the DOSBox-X of $dosbox_x_root does not run" >&2
    exit 1
  fi
  "${sudo_cmd[@]}" touch "$dosbox_x_root/.vantle-ready"
  echo "setup: DOSBox-X ready: $dosbox_x_runner"
fi
