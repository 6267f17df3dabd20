#!/usr/bin/env bash
# Start of vtl64.exe to a filled, visible game list for libraries of 1,000,
# 10,000 and 35,000 games under Wine, beside the bare XML load of the same
# file; then each key typed into the find box beside a refill of the whole
# list; then -import of 5,000 game folders beside a bare walk of the same
# tree; then the peak memory of the program holding 35,000 games above the
# same program with an empty library, per byte of the library file. Each figure is sampled several times (min/median/max), each ratio is
# printed beside its goal, and a run whose anchor did not do the same work
# ends with an error instead. Run after a Windows build (scripts/test.sh or
# the README's build):
#   bash bench/list-start-bench.sh [--samples K] [N...] [--import N...] [--memory N...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
win="$root/build/win"
cmake --build "$win" --target vtl64 list_start_bench >/dev/null
exec "$root/scripts/wine-run.sh" --prefix "$win/wineprefix" --unmanaged \
  "$win/tests/win/list_start_bench.exe" "$win/launcher/vtl64.exe" "$root/resources/defrc.xml" "$@"
