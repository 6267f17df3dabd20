// The XML editor window: a tree of one element and everything below it, a
// property grid of the selected element's attributes and a text area for its
// first CDATA section. Edits go straight into the document; the window never
// saves a file, that is its owner's business.
#pragma once

#include <windows.h>

#include "xml/Xml.h"

#define XML_EDITOR_CLASS L"XML_XDB_CLASS"

// Sent by the window to itself at the end of its creation: builds the tree.
constexpr UINT XEM_FILL = 0x8001;

// Child control IDs.
constexpr int kEditorTreeId = 1000;
constexpr int kEditorGridId = 1001;
constexpr int kEditorTextId = 1002;

// Names, values and callback texts travel in buffers of this many bytes.
constexpr int kEditorTextBytes = 1000;

// Events an XmlEditorCallback hears (node and text as listed).
enum XmlEditorEvent {
  kEditorShowValue = 0,     // XmlAttribute*, its decoded value (may be rewritten)
  kEditorEditValue = 1,     // XmlAttribute*, an empty buffer; answer 1 no edit, 2 value set
  kEditorTreeLabel = 2,     // XmlElement*, its label (may be rewritten)
  kEditorFilled = 3,        // none, none
  kEditorGridFilled = 4,    // XmlElement*, none
  kEditorGridFilling = 5,   // XmlElement*, none
  kEditorValueStored = 6,   // XmlAttribute*, the committed UTF-8 text
  kEditorClosing = 7,       // the edited XmlElement*, none; only when something was changed
};
// Answers of the owner to kEditorEditValue.
constexpr INT_PTR kEditorNoEdit = 1;
constexpr INT_PTR kEditorValueSet = 2;
// As 0 (edit the value in place), after the owner has shown a dialog: the
// editor first takes the keyboard back from wherever the dialog's end left it.
constexpr INT_PTR kEditorEditAfterDialog = 3;
// As kEditorValueSet, after the owner has shown a dialog.
constexpr INT_PTR kEditorValueSetAfterDialog = 4;

// The owner's hook into the editor. The text buffer holds UTF-8; where it may
// be rewritten it holds at least kEditorTextBytes bytes (tree labels: their
// length plus 100), and what is written must end with a zero inside it.
typedef INT_PTR(CALLBACK* XmlEditorCallback)(HWND editor, int code, void* node, char* text);

// Opens a visible editor window on element (owned by owner when given) and
// returns at once; the caller's message loop runs it until the window is
// gone. The grid classes must be registered and the rich edit library loaded.
HWND OpenXmlEditor(HWND owner, XmlElement* element, XmlEditorCallback callback);

// An open editor window that shows element (as what it edits, or inside it,
// or around it), or null: an owner must not free an element such a window
// still points into.
HWND FindXmlEditor(const XmlElement* element);

// The bold font names are drawn in, shared by all open editor windows; null
// when none is open.
HFONT XmlEditorNameFont();
