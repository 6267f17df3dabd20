#include "ui/FontMetrics.h"

int FramedLineHeight(HWND window) {
  HDC dc = GetDC(window);
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, previous);
  ReleaseDC(window, dc);
  return metrics.tmHeight + 2 * GetSystemMetrics(SM_CYEDGE);
}
