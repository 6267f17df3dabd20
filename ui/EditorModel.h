// What the XML editor window shows of an element and how it writes back,
// apart from the window itself: tree labels, the attribute rows with their
// choice lists, the text area's CDATA section and the layout of the three
// panes. Portable, so it is tested natively.
#pragma once

#include <string>
#include <vector>

#include "xml/Xml.h"

// A name as the user reads it: every "_" a blank.
std::string ShownName(std::string name);

// The tree label of element: its attribute "name", else "Name", else its own
// name, shown with blanks for underscores.
std::string TreeLabel(XmlElement* element);

// One grid row: an attribute whose name does not start with "__", its shown
// name, and the choices of its companion attribute "__<name>", the pieces of
// its value between "|||" separators. A row offers a choice list whenever
// that value is not empty, even when it holds separators only: such a value
// is then picked from an empty list, never typed.
struct AttributeRow {
  XmlAttribute* attribute = nullptr;
  std::string name;
  bool offersChoices = false;
  std::vector<std::string> choices;
};
std::vector<AttributeRow> AttributeRows(XmlElement* element);

// The text of the element's first CDATA section, or empty.
std::string EditorText(const XmlElement* element);

// Text typed into the text area, with the control's line breaks ("\r\n")
// kept, unless the element's text already breaks its lines with a plain "\n"
// and never with "\r\n": then they become "\n", so that storing an unchanged
// line keeps its bytes. Command lists are split at "\r\n", so a break typed
// into a text that had none must stay one.
std::string StoredLineBreaks(const std::string& typed, const XmlElement* element);

// Writes text into the element's first CDATA section, adding one when there
// is none. An empty text changes nothing: clearing the text area never
// deletes a help text or a command list. A "]]>" in the text, which would end
// the section early in the file, is stored as "]] >".
void StoreEditorText(XmlElement* element, const std::string& text);

struct PaneBox {
  int x, y, width, height;
};
struct EditorLayout {
  PaneBox tree, grid, text;
};
// The tree takes the left fifth; the grid the rest, or its upper half when
// the text area has text to show, which then takes the lower half.
EditorLayout LayOutEditor(int width, int height, bool hasText);
