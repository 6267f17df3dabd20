#!/usr/bin/env bash
# The review of another front end's library under Wine: generated D-Fend
# Reloaded data folders and LaunchBox platform files of 5,000, 10,000 and
# 35,000 games, from Find Games to the filled review list, beside a bare read
# of the same files. Each figure is sampled several times (min/median/max),
# each goal printed with "met" or "MISSED", and a run whose review or bare
# read did not see every game ends with an error. Run after a Windows build:
#   bash bench/foreign-import-bench.sh [--samples K] [--only D-Fend|LaunchBox] [N...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
win="$root/build/win"
cmake --build "$win" --target vtl64 foreign_import_bench >/dev/null
exec "$root/scripts/wine-run.sh" --prefix "$win/wineprefix" --unmanaged \
  "$win/tests/win/foreign_import_bench.exe" "$win/launcher/vtl64.exe" "$@"
