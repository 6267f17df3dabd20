#include "launcher/EntryEditor.h"

#include "launcher/GameLaunch.h"

void OpenEntryEditor(HWND list, int index, XmlElement* element) {
  if (!element) element = ListItemEntry(list, index);
  if (!element) return;
  // The XML editor window is not part of the program yet; until it is, a
  // game that cannot be started is left as it is.
}
