// Sizes taken from the font a window actually draws with, so that controls
// laid out from them fit at any font size or DPI.
#pragma once

#include <windows.h>

// The height of a line of window's font plus the sunken frame an edit box
// or a drop-down editor draws around it.
int FramedLineHeight(HWND window);
