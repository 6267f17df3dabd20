#!/usr/bin/env bash
# Runs a Windows program under Wine: the test emulator of the mingw build
# tree (CMAKE_CROSSCOMPILING_EMULATOR) and the way scripts/run.sh starts Vantle.
#   wine-run.sh [--prefix DIR] [--unmanaged] program.exe [args...]
# The prefix is private to the build tree and made once; without a DISPLAY the
# program runs inside its own xvfb-run. --unmanaged (for test prefixes) makes
# Wine draw window frames itself, since Xvfb has no window manager to do it and
# screenshots would otherwise show windows without title bars.
set -u
prefix=""
unmanaged=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --unmanaged) unmanaged=1; shift ;;
    *) break ;;
  esac
done
export WINEPREFIX="${prefix:-${WINEPREFIX:-$HOME/.wine-vantle}}"
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono/Gecko installer prompts and no desktop menu entries.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"

# Debian ships the 64-bit loader outside PATH; the "wine" wrapper would ask for wine32.
wine_cmd=/usr/lib/wine/wine64
[ -x "$wine_cmd" ] || wine_cmd=$(command -v wine64 || command -v wine)

if [ ! -f "$WINEPREFIX/.vantle-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.vantle-ready" ]; then
      echo "wine-run: creating Wine prefix $WINEPREFIX" >&2
      DISPLAY= "$wine_cmd" wineboot -i >/dev/null 2>&1
      # This Wine does not pick up the TrueType fonts of fonts-wine by itself;
      # without Marlett and Tahoma, captions and dialogs fall back to bitmap
      # fonts and the caption buttons show letters.
      cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
      if [ "$unmanaged" = 1 ]; then
        DISPLAY= "$wine_cmd" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
      fi
      wineserver -w
      touch "$WINEPREFIX/.vantle-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --prefix "$WINEPREFIX" "$@"
fi
exec "$wine_cmd" "$@"
