#!/usr/bin/env bash
# Sets up what is missing, builds both trees and runs every test:
#   native (AddressSanitizer + UBSan) and Windows (mingw-w64, run under Wine).
# Ends with one line "N passed, N failed" and a non-zero exit when anything failed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

jobs=$(nproc)

bash scripts/setup.sh

echo "== build: native (sanitizers)"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTLE_SANITIZE=ON >/dev/null
cmake --build build/native -j "$jobs"

echo "== build: windows (mingw-w64)"
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build/win -j "$jobs"

# One X server and one Wine server for the whole run, ended on every exit path
# so that nothing outlives the test run.
xvfb_pid=""
export WINEPREFIX="$root/build/win/wineprefix"
cleanup() {
  WINEPREFIX="$root/build/win/wineprefix" wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
  done
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
fi
# Makes the prefix once, then keeps its server alive between test programs.
scripts/wine-run.sh --prefix "$WINEPREFIX" --unmanaged cmd /c exit 0 >/dev/null 2>&1 || true
wineserver -p 2>/dev/null || true  # already running is fine

status=0
for tree in native win; do
  echo "== tests: $tree"
  rm -rf "build/$tree/test-reports"
  ctest --test-dir "build/$tree" -j "$jobs" --timeout 900 --output-on-failure \
        --output-junit "$root/build/$tree/test-reports/ctest.xml" || status=1
done

scripts/test-summary.sh build/native/test-reports build/win/test-reports || status=1
exit $status
