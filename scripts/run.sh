#!/usr/bin/env bash
# Sets up what is missing, builds the Windows program and starts it under Wine.
# The program runs from build/app with a Wine prefix of its own, so its library
# (vtl.xml) survives rebuilds and the test runs never touch it. Beside it lies
# the bridge as DOSBOX.EXE, which starts each game in the host's DOSBox.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/setup.sh
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build/win --target vtl64 dosbox_bridge -j "$(nproc)"

mkdir -p build/app
cp build/win/launcher/vtl64.exe build/app/vtl64.exe
cp build/win/bridge/DOSBOX.EXE build/app/DOSBOX.EXE
# The same bridge under DOSBox-X's name starts the private root's DOSBox-X:
# list it in Options (DOSBox Installations) to give games that engine.
cp build/win/bridge/DOSBOX.EXE build/app/DOSBox-X.exe
exec scripts/wine-run.sh --prefix "$root/build/app/wineprefix" "$root/build/app/vtl64.exe" "$@"
