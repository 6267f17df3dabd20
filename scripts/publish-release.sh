#!/usr/bin/env bash
# Publishes a build into the update server's release folder:
#
#   scripts/publish-release.sh --root DIR [--product ID] [--name NAME] [FILE...]
#
# FILE defaults to build/win/launcher/vtl64.exe. The updater installs only a
# file that passes its Authenticode check, so publish a signed build. Each
# file lands in DIR/<product>/ under its own name (or NAME, for one file),
# by way of a temporary file in that folder that is renamed over the old
# version: a running server hands out the old file or the new one, never half
# of one, and notices the new one by its size and time. The server makes the
# ".sig" signature files itself; there is nothing else to publish.
#
# The product id defaults to the one compiled into the program. Prints each
# published file's name and SHA-1 as the server will report it.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
root=""
product=""
name=""
files=()
usage() {
  echo "usage: publish-release.sh --root DIR [--product ID] [--name NAME] [FILE...]" >&2
  exit 2
}
while [[ $# -gt 0 ]]; do
  case "$1" in
    --root) [[ $# -ge 2 ]] || usage; root="$2"; shift 2 ;;
    --product) [[ $# -ge 2 ]] || usage; product="$2"; shift 2 ;;
    --name) [[ $# -ge 2 ]] || usage; name="$2"; shift 2 ;;
    -h|--help) usage ;;
    -*) echo "publish-release.sh: unknown option $1" >&2; usage ;;
    *) files+=("$1"); shift ;;
  esac
done
[[ -n "$root" ]] || usage
[[ ${#files[@]} -gt 0 ]] || files=("$here/build/win/launcher/vtl64.exe")
if [[ -n "$name" && ${#files[@]} -ne 1 ]]; then
  echo "publish-release.sh: --name needs exactly one file" >&2
  exit 2
fi
if [[ -z "$product" ]]; then
  product="$(sed -n 's/^#define VANTLE_PRODUCT_ID L"\(.*\)"$/\1/p' "$here/update/RunUpdateCheck.h")"
  [[ -n "$product" ]] || { echo "publish-release.sh: no product id found; give --product" >&2; exit 2; }
fi

# The names the server accepts: one entry of one folder.
plain_name() {
  [[ -n "$1" && "$1" != "." && "$1" != *..* && "$1" != */* && "$1" != *\\* ]]
}
plain_name "$product" || { echo "publish-release.sh: bad product id \"$product\"" >&2; exit 2; }
[[ -d "$root" ]] || { echo "publish-release.sh: no release folder $root" >&2; exit 1; }

# Check everything before anything is published.
for file in "${files[@]}"; do
  [[ -f "$file" && -r "$file" ]] || { echo "publish-release.sh: cannot read $file" >&2; exit 1; }
  target="${name:-$(basename -- "$file")}"
  plain_name "$target" || { echo "publish-release.sh: bad file name \"$target\"" >&2; exit 2; }
done

folder="$root/$product"
mkdir -p -- "$folder"
tmp=""
trap '[[ -z "$tmp" ]] || rm -f -- "$tmp"' EXIT
for file in "${files[@]}"; do
  target="${name:-$(basename -- "$file")}"
  if [[ "$target" == *.sig && -f "$folder/${target%.sig}" ]]; then
    echo "publish-release.sh: note: the server makes $target from ${target%.sig} itself and will not serve this copy" >&2
  fi
  tmp="$(mktemp -- "$folder/.$target.XXXXXX")"
  cp -- "$file" "$tmp"
  chmod 0644 -- "$tmp"
  sync -- "$tmp"
  mv -f -- "$tmp" "$folder/$target"
  tmp=""
  echo "$target $(sha1sum -- "$folder/$target" | cut -c1-40 | tr a-f A-F)"
done
