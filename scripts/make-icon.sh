#!/usr/bin/env bash
# Rebuilds resources/vantle.ico from the SVG artwork in resources/icon.
#
# The small sizes have their own pixel-fitted drawings (vantle-16/20/24/32.svg);
# scaling the full drawing down that far blurs the play prompt into a smudge.
# 40 px and up come from vantle.svg.
#
# Rasterising is done with librsvg: rsvg-convert when it is installed, otherwise
# the librsvg shared library through Python's ctypes (the library ships with
# ImageMagick's dependencies even where the command-line tool does not).
# ImageMagick then packs the PNGs into one .ico: 32-bit BGRA entries up to 64 px
# and a PNG-compressed 256 px entry, the layout Windows expects.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
src="$root/resources/icon"
out="$root/resources/vantle.ico"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

command -v convert >/dev/null || { echo "make-icon: ImageMagick 'convert' is required" >&2; exit 1; }

render() { # render SVG SIZE PNG
  if command -v rsvg-convert >/dev/null; then
    rsvg-convert -w "$2" -h "$2" -o "$3" "$1"
    return
  fi
  python3 - "$1" "$2" "$3" <<'PY'
import ctypes, ctypes.util, sys

class GError(ctypes.Structure):
    _fields_ = [("domain", ctypes.c_uint32), ("code", ctypes.c_int), ("message", ctypes.c_char_p)]

class Rect(ctypes.Structure):
    _fields_ = [("x", ctypes.c_double), ("y", ctypes.c_double),
                ("width", ctypes.c_double), ("height", ctypes.c_double)]

def lib(name, soname):
    try:
        return ctypes.CDLL(ctypes.util.find_library(name) or soname)
    except OSError:
        sys.exit("make-icon: neither rsvg-convert nor %s is available" % soname)

rsvg = lib("rsvg-2", "librsvg-2.so.2")
cairo = lib("cairo", "libcairo.so.2")
errp = ctypes.POINTER(GError)
rsvg.rsvg_handle_new_from_file.restype = ctypes.c_void_p
rsvg.rsvg_handle_new_from_file.argtypes = [ctypes.c_char_p, ctypes.POINTER(errp)]
rsvg.rsvg_handle_render_document.argtypes = [ctypes.c_void_p, ctypes.c_void_p,
                                             ctypes.POINTER(Rect), ctypes.POINTER(errp)]
cairo.cairo_image_surface_create.restype = ctypes.c_void_p
cairo.cairo_create.restype = ctypes.c_void_p
cairo.cairo_create.argtypes = [ctypes.c_void_p]
cairo.cairo_surface_write_to_png.argtypes = [ctypes.c_void_p, ctypes.c_char_p]

svg, size, png = sys.argv[1], int(sys.argv[2]), sys.argv[3]
err = errp()
handle = rsvg.rsvg_handle_new_from_file(svg.encode(), ctypes.byref(err))
if not handle:
    sys.exit("make-icon: %s: %s" % (svg, err.contents.message.decode()))
surface = cairo.cairo_image_surface_create(0, size, size)  # CAIRO_FORMAT_ARGB32
cr = cairo.cairo_create(surface)
if not rsvg.rsvg_handle_render_document(handle, cr, ctypes.byref(Rect(0, 0, size, size)),
                                        ctypes.byref(err)):
    sys.exit("make-icon: %s: %s" % (svg, err.contents.message.decode()))
if cairo.cairo_surface_write_to_png(surface, png.encode()) != 0:
    sys.exit("make-icon: cannot write " + png)
PY
}

pngs=()
for size in 16 20 24 32 40 48 64 256; do
  svg="$src/vantle.svg"
  [ -f "$src/vantle-$size.svg" ] && svg="$src/vantle-$size.svg"
  render "$svg" "$size" "$tmp/$size.png"
  pngs+=("$tmp/$size.png")
done

# -strip keeps timestamps out of the embedded PNG so rebuilds are byte-identical.
convert "${pngs[@]}" -strip -define png:exclude-chunks=date,time "$out"
echo "wrote $out"
