#!/usr/bin/env bash
# Fetches pairs of real release files (old, new) that nobody here wrote --
# Debian's packages at two versions, by their ordinary client -- builds
# vtl64.exe a second time with one compiled-in line changed, and runs
# delta_bench on the pairs. Nothing fetched is kept in the repository.
#   bash bench/delta-bench.sh        (run by hand; not part of the tests)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
data="$root/build/bench-data"
mkdir -p "$data"
cd "$data"

command -v rsync >/dev/null || apt-get install -y -qq --no-install-recommends rsync

# package version path-inside-the-package
pairs=(
  "zlib   zlib1g  1:1.2.13.dfsg-1      1:1.2.13.dfsg-1+deb12u1  lib/x86_64-linux-gnu/libz.so.1.2.13"
  "git    git     1:2.39.5-0+deb12u2   1:2.39.5-0+deb12u3       usr/bin/git"
  "crypto libssl3 3.0.17-1~deb12u2     3.0.20-1~deb12u2         usr/lib/x86_64-linux-gnu/libcrypto.so.3"
)
args=()
for line in "${pairs[@]}"; do
  read -r name package old new path <<<"$line"
  for version in "$old" "$new"; do
    dir="$data/$package-${version//[:~+]/_}"
    if [ ! -f "$dir/$path" ]; then
      rm -rf "$dir.tmp" && mkdir -p "$dir.tmp"
      chmod 777 "$dir.tmp"  # apt downloads as its own user
      (cd "$dir.tmp" && apt-get download -qq "$package=$version")
      dpkg-deb -x "$dir.tmp"/*.deb "$dir"
      rm -rf "$dir.tmp"
    fi
  done
  args+=("$name" "$data/$package-${old//[:~+]/_}/$path" "$data/$package-${new//[:~+]/_}/$path")
done

# Two builds of the program: the test tree's, and one whose update endpoint
# (one line of its build) differs.
win="$root/build/win"
other="$data/win-other-endpoint"
cmake --build "$win" -j2 --target vtl64 >/dev/null
cmake -S "$root" -B "$other" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DVANTLE_UPDATE_SERVER_URL="https://updates.example.org/update/u.php" >/dev/null
cmake --build "$other" -j2 --target vtl64 >/dev/null
args+=("vtl64.exe" "$win/launcher/vtl64.exe" "$other/launcher/vtl64.exe")

# The benchmark tree (a release build), as the README makes it.
bench="$root/build/bench"
[ -f "$bench/CMakeCache.txt" ] || cmake -S "$root" -B "$bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTLE_BENCH=ON >/dev/null
cmake --build "$bench" -j2 --target delta_bench >/dev/null
"$bench/bench/delta_bench" "${args[@]}"
