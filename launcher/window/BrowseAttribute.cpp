#include "launcher/window/BrowseAttribute.h"

#include <string>

#include "launcher/window/PickPath.h"
#include "text/TextConvert.h"
#include "ui/XmlEditor.h"
#include "xml/Xml.h"

namespace {

bool AskYesNo(HWND owner, const wchar_t* question) {
  return MessageBoxW(owner, question, L"Vantle", MB_YESNO) == IDYES;
}

}  // namespace

INT_PTR CALLBACK BrowseAttributeValue(HWND editor, int code, void* node, char* text) {
  if (code != kEditorEditValue || !node || !text) return 0;
  XmlAttribute* attribute = static_cast<XmlAttribute*>(node);
  const std::string name = attribute->GetName();
  std::string chosen;
  // After each dialog the editor is told so: it takes the keyboard back
  // before the value is typed in place.
  if (name == "Install" || name == "Run") {
    if (!AskYesNo(editor,
                  L"Do you want to specify a local file ? Press yes if so, no to edit it manually.\r\n\r\n"
                  L"Please note that it must be relevant to the mount name, not the actual name."))
      return kEditorEditAfterDialog;
    if (!PickProgramFile(editor, nullptr, attribute->GetValue(), chosen)) return kEditorEditAfterDialog;
  } else if (name == "local") {
    if (!AskYesNo(editor, L"Do you want to specify a local folder ? Press no to edit it manually"))
      return kEditorEditAfterDialog;
    if (!PickFolder(editor, chosen)) return kEditorEditAfterDialog;
  } else {
    return 0;
  }
  attribute->SetValue(chosen.c_str());
  CopyToBuffer(chosen, text, kEditorTextBytes);
  return kEditorValueSetAfterDialog;
}
