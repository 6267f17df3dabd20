#include "launcher/EntryEditor.h"

#include "launcher/GameLaunch.h"
#include "launcher/window/BrowseAttribute.h"
#include "launcher/window/GameList.h"
#include "ui/XmlEditor.h"

void OpenEntryEditor(HWND list, int index, XmlElement* element) {
  const bool fromList = element == nullptr;
  if (!element) element = ListItemEntry(list, index);
  if (!element) return;
  HWND editor = OpenXmlEditor(list ? GetParent(list) : nullptr, element, BrowseAttributeValue);
  // The editor changes the document in place; the caller decides what to
  // save once it is gone. The rest of the program stays responsive meanwhile.
  MSG message;
  while (IsWindow(editor)) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(message.wParam));  // for the loop above this one
      break;
    }
    if (got < 0) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  // Name, description or category may have changed.
  if (fromList) FillGameList(list);
}
