// Opening a game, or the whole default profile, in the XML editor window.
#pragma once

#include <windows.h>

#include "xml/Xml.h"

// Opens element, or when it is null the game of list item index, in the XML
// editor window (owned by the window holding the list) and keeps the program
// responsive until the editor is closed. Nothing happens when there is no
// such element.
void OpenEntryEditor(HWND list, int index, XmlElement* element);
