#pragma once
// Driving real controls on the test's own thread the way a person does:
// clicks posted at the coordinates of a cell or a list entry, keys and
// characters posted to the window that has the focus, and the message loop
// run in between.
#include <windows.h>
#include <commctrl.h>

#include <string>

namespace uitest {

// Runs this thread's message loop for about milliseconds.
void Pump(DWORD milliseconds = 50);

// The centre of a list view cell, in the list's client coordinates.
POINT CellCenter(HWND list, int row, int column);

// A left click (down and up) at point, in window's client coordinates.
void Click(HWND window, POINT point);
void ClickCell(HWND list, int row, int column);

// A key press (down and up) sent to the window that has the focus.
void PressKey(UINT virtualKey);
// Characters typed into the window that has the focus.
void TypeText(const std::wstring& text);

// Opens a combo box's list and clicks its entry index there.
bool PickDropDownEntry(HWND combo, int index);

// Opens a combo box's list and moves the mouse over its entry index, without
// clicking.
bool HoverDropDownEntry(HWND combo, int index);

// The text of a list view cell, through the wide message.
std::wstring CellText(HWND list, int row, int column);

// A window's whole text, through the wide call.
std::wstring WindowText(HWND window);

// The row whose column 0 reads text, or -1.
int FindRow(HWND list, const std::wstring& text);

// A tree item's label, and the first item (depth first) labelled label.
std::wstring TreeItemText(HWND tree, HTREEITEM item);
HTREEITEM FindTreeItem(HWND tree, const std::wstring& label, HTREEITEM below = nullptr);

// Whether every heap of the process is intact. With Wine's heap checking on,
// freed blocks carry a pattern, so a write into freed memory shows up here.
bool ProcessHeapsValid();

// A top-level window of this thread's class name "UiTestParent" that answers
// nothing itself (its children's notifications go to proc when it is set).
HWND CreateTestParent(WNDPROC proc, int width = 600, int height = 400);

}  // namespace uitest

namespace uitest {

// Driving windows of another thread of this process (a modal dialog runs its
// own loop there): waits up to timeoutMs for a visible dialog ("#32770") of
// this process titled title that shows showing (when given) in one of its
// children.
HWND WaitForDialog(const wchar_t* title, const wchar_t* showing = nullptr, DWORD timeoutMs = 15000);

// Clicks button id of dialog, posted, so that whatever the click opens can
// be answered in turn.
void PressButton(HWND dialog, int id);

// Waits for the dialog and presses its button id; false when none came.
bool AnswerDialog(const wchar_t* title, const wchar_t* showing, int id);

// Answers the system's file dialog titled title (null: "Open") with path;
// false when no such dialog came.
bool AnswerFileDialog(const wchar_t* title, const std::wstring& path);

// Whether a dialog titled title showing showing is there now.
bool DialogShown(const wchar_t* title, const wchar_t* showing = nullptr);

}  // namespace uitest
