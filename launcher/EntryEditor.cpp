#include "launcher/EntryEditor.h"

#include "launcher/GameLaunch.h"
#include "launcher/Storage.h"
#include "launcher/window/BrowseAttribute.h"
#include "launcher/window/EngineOptions.h"
#include "launcher/window/GameList.h"
#include "ui/XmlEditor.h"

namespace {

bool InGameDatabase(const XmlElement* element) {
  if (!GameDatabase || !element) return false;
  while (element->GetParent()) element = element->GetParent();
  return element == GameDatabase->GetRoot();
}

// The program's side of an editor window: paths are offered dialogs, and a
// window that changed a game saves the library as it closes, so that no edit
// waits for the end of the program (or is lost with it). The default profile
// is saved by whoever opened it, once its editor is gone.
INT_PTR CALLBACK EntryEditorEvents(HWND editor, int code, void* node, char* text) {
  if (code == kEditorClosing) {
    if (InGameDatabase(static_cast<XmlElement*>(node))) SaveGameDatabase();
    return 0;
  }
  if (const INT_PTR engine = PickEngineValue(editor, code, node, text)) return engine;
  return BrowseAttributeValue(editor, code, node, text);
}

}  // namespace

void OpenEntryEditor(HWND list, int index, XmlElement* element) {
  const bool fromList = element == nullptr;
  if (!element) element = ListItemEntry(list, index);
  if (!element) return;
  HWND editor = OpenXmlEditor(list ? GetParent(list) : nullptr, element, EntryEditorEvents);
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
