// The XML editor window under Wine, driven as a person does: clicks on tree
// items and grid cells, keys and characters typed into the in-place editors
// and the text area; then the XML tree, the saved file and what the owner's
// callback heard.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "UiDriver.h"
#include "WinTestUtil.h"
#include "launcher/EntryEditor.h"
#include "launcher/GameSchema.h"
#include "ui/PropertyGrid.h"
#include "ui/XmlEditor.h"

namespace {

using uitest::CellText;
using uitest::FindRow;
using uitest::FindTreeItem;
using uitest::ClickCell;
using uitest::PressKey;
using uitest::Pump;
using uitest::TypeText;

struct Heard {
  int code;
  void* node;
  std::string text;
};

// What the owner's callback heard, and what it answers to an edit request.
struct Owner {
  std::vector<Heard> heard;
  INT_PTR answerToEdit = 0;
  std::string valueToSet;

  int Count(int code) const {
    int n = 0;
    for (const Heard& h : heard) n += h.code == code;
    return n;
  }
};
Owner* owner = nullptr;

INT_PTR CALLBACK RecordingCallback(HWND, int code, void* node, char* text) {
  owner->heard.push_back({code, node, text ? text : ""});
  if (code == kEditorEditValue && owner->answerToEdit == kEditorValueSet) {
    strcpy_s(text, kEditorTextBytes, owner->valueToSet.c_str());
  }
  return code == kEditorEditValue ? owner->answerToEdit : 0;
}

class XmlEditorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), 0x7FF};
    InitCommonControlsEx(&controls);
    ASSERT_TRUE(RegisterGridClasses(GetModuleHandleW(nullptr)));
  }

  void SetUp() override {
    owner = &recorder_;
    profile_ = std::make_unique<XmlDocument>(wintest::HostToWindowsPath(VANTLE_DEFAULT_PROFILE).c_str());
    ASSERT_EQ(0, profile_->GetParseStatus());
    game_ = TemplateEntry(*profile_);
  }

  void TearDown() override {
    for (HWND window : opened_) {
      if (IsWindow(window)) DestroyWindow(window);
    }
    Pump();
    owner = nullptr;
    EXPECT_TRUE(uitest::ProcessHeapsValid());
  }

  HWND Open(XmlElement* element, XmlEditorCallback callback = RecordingCallback) {
    HWND editor = OpenXmlEditor(nullptr, element, callback);
    opened_.push_back(editor);
    MoveWindow(editor, 20, 20, 900, 600, TRUE);
    Pump();
    return editor;
  }

  static HWND Tree(HWND editor) { return GetDlgItem(editor, kEditorTreeId); }
  static HWND Grid(HWND editor) { return GetDlgItem(editor, kEditorGridId); }
  static HWND TextArea(HWND editor) { return GetDlgItem(editor, kEditorTextId); }

  // Labels of the tree in document order, depth first.
  static std::vector<std::wstring> Labels(HWND tree, HTREEITEM item = nullptr) {
    std::vector<std::wstring> labels;
    for (HTREEITEM child = item ? TreeView_GetChild(tree, item) : TreeView_GetRoot(tree); child; child = TreeView_GetNextSibling(tree, child)) {
      labels.push_back(uitest::TreeItemText(tree, child));
      for (const std::wstring& below : Labels(tree, child)) labels.push_back(below);
    }
    return labels;
  }

  // A click on the item's label, as a person selects it.
  static void ClickItem(HWND tree, const std::wstring& label) {
    HTREEITEM item = FindTreeItem(tree, label);
    ASSERT_NE(nullptr, item) << Narrow(label);
    TreeView_EnsureVisible(tree, item);
    RECT box{};
    TreeView_GetItemRect(tree, item, &box, TRUE);
    uitest::Click(tree, POINT{(box.left + box.right) / 2, (box.top + box.bottom) / 2});
    ASSERT_EQ(item, TreeView_GetSelection(tree)) << Narrow(label);
  }

  static std::vector<std::wstring> Column(HWND grid, int column) {
    std::vector<std::wstring> cells;
    for (int row = 0; row < ListView_GetItemCount(grid); ++row) cells.push_back(CellText(grid, row, column));
    return cells;
  }

  // Selects the row with one click, then asks for its value's editor with a
  // second, as a person does; the editor open afterwards, if any.
  static HWND OpenValueEditor(HWND grid, const std::wstring& name) {
    const int row = FindRow(grid, name);
    if (row < 0) return nullptr;
    ClickCell(grid, row, 1);
    ClickCell(grid, row, 1);
    return reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0));
  }

  static std::wstring AreaText(HWND area) {
    wchar_t text[4096] = L"";
    GETTEXTEX how{};
    how.cb = sizeof text;
    how.codepage = 1200;
    SendMessageW(area, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(text));
    return text;
  }

  static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

  static int Height(HWND window) {
    RECT box{};
    GetWindowRect(window, &box);
    return IsWindowVisible(window) ? box.bottom - box.top : 0;
  }

  Owner recorder_;
  std::unique_ptr<XmlDocument> profile_;
  XmlElement* game_ = nullptr;
  std::vector<HWND> opened_;
};

TEST_F(XmlEditorTest, GameEntryShowsItsTreeRowsAndChoices) {
  HWND editor = Open(game_);
  HWND tree = Tree(editor), grid = Grid(editor);
  EXPECT_EQ("g", wintest::WindowText(editor));
  const std::vector<std::wstring> labels = Labels(tree);
  ASSERT_GE(labels.size(), 4u);
  EXPECT_EQ(L"g", labels[0]);
  EXPECT_EQ(L"New Game", labels[1]);  // Main is labelled with its Name
  EXPECT_NE(nullptr, FindTreeItem(tree, L"Command Line Parameters"));
  EXPECT_NE(nullptr, FindTreeItem(tree, L"SoundBlaster"));
  EXPECT_TRUE(TreeView_GetItemState(tree, TreeView_GetRoot(tree), TVIS_EXPANDED) & TVIS_EXPANDED);
  EXPECT_EQ(static_cast<int>(labels.size()), recorder_.Count(kEditorTreeLabel));
  ASSERT_EQ(1, recorder_.Count(kEditorFilled));
  EXPECT_EQ(kEditorFilled, recorder_.heard.back().code);
  EXPECT_EQ(nullptr, TreeView_GetSelection(tree));
  EXPECT_EQ(0, ListView_GetItemCount(grid));

  recorder_.heard.clear();
  ClickItem(tree, L"New Game");
  EXPECT_EQ((std::vector<std::wstring>{L"Name", L"Description", L"Category", L"Install", L"Run"}), Column(grid, 0));
  EXPECT_EQ((std::vector<std::wstring>{L"New Game", L"Description", L"Category", L"", L""}), Column(grid, 1));
  std::vector<int> codes;
  for (const Heard& h : recorder_.heard) codes.push_back(h.code);
  EXPECT_EQ((std::vector<int>{5, 0, 0, 0, 0, 0, 4}), codes);
  // Main has a help text: the grid and the text area share the right side.
  EXPECT_EQ(0u, AreaText(TextArea(editor)).find(L"Specify here:"));
  EXPECT_NEAR(Height(grid), Height(TextArea(editor)), 2);

  // The category list: only its entries, in stored order; "Category" is not
  // one of them, so the first is selected.
  HWND box = OpenValueEditor(grid, L"Category");
  ASSERT_NE(nullptr, box);
  EXPECT_EQ(CBS_DROPDOWNLIST, GetWindowLongW(box, GWL_STYLE) & 3);
  ASSERT_EQ(kCategoryCount, SendMessageW(box, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < kCategoryCount; ++i) {
    wchar_t entry[64] = L"";
    SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
    EXPECT_EQ(CategoryList[i], Narrow(entry));
  }
  EXPECT_EQ(0, SendMessageW(box, CB_GETCURSEL, 0, 0));
  PressKey(VK_ESCAPE);
  EXPECT_FALSE(IsWindow(box));
  EXPECT_EQ("Category", game_->FindChild("Main")->FindAttribute("Category")->GetValue());

  // Names are never edited; the first click on another row only selects it.
  ClickCell(grid, FindRow(grid, L"Category"), 0);
  EXPECT_EQ(0, SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0));
  ClickCell(grid, FindRow(grid, L"Run"), 1);
  EXPECT_EQ(0, SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0));

  // An element without a help text gives the grid the full height.
  ClickItem(tree, L"Commands");
  EXPECT_EQ(0, ListView_GetItemCount(grid));
  EXPECT_EQ(0, Height(TextArea(editor)));
  SendMessageW(editor, WM_CLOSE, 0, 0);
  EXPECT_EQ(0, recorder_.Count(kEditorClosing));  // nothing was changed
}

TEST_F(XmlEditorTest, EditedValuesAreStoredEscapedAndReported) {
  HWND editor = Open(game_);
  HWND grid = Grid(editor);
  ClickItem(Tree(editor), L"Screen");
  XmlElement* screen = game_->FindChild("Screen");

  const struct {
    const wchar_t* row;
    const wchar_t* typed;
    UINT key;
    const char* stored;  // as the file holds it
  } cases[] = {
      {L"mapperfile", L"640x480", VK_RETURN, "640x480"},
      {L"priority", L"a<b & \"c\"", VK_RETURN, "a&lt;b &amp; &quot;c&quot;"},
      {L"sensitivity", L"75", VK_ESCAPE, "100"},  // Escape keeps the old value
  };
  for (const auto& c : cases) {
    recorder_.heard.clear();
    HWND field = OpenValueEditor(grid, c.row);
    ASSERT_NE(nullptr, field) << Narrow(c.row);
    EXPECT_EQ(kEditorEditValue, recorder_.heard.at(0).code);
    TypeText(c.typed);  // the whole old text is selected, so typing replaces it
    PressKey(c.key);
    EXPECT_FALSE(IsWindow(field));
    const XmlAttribute* attribute = screen->FindAttribute(Narrow(c.row).c_str());
    EXPECT_STREQ(c.stored, attribute->GetStoredValue()) << Narrow(c.row);
    const bool committed = c.key == VK_RETURN;
    EXPECT_EQ(committed ? 1 : 0, recorder_.Count(kEditorValueStored));
    if (committed) {
      EXPECT_EQ(attribute, recorder_.heard.back().node);
      EXPECT_EQ(Narrow(c.typed), recorder_.heard.back().text);
    }
  }

  // From the keyboard: F2 on the selected row edits its value.
  ClickCell(grid, FindRow(grid, L"mapperfile"), 1);
  PressKey(VK_ESCAPE);
  PressKey(VK_F2);
  ASSERT_NE(0, SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0));
  TypeText(L"keys.map");
  PressKey(VK_RETURN);
  EXPECT_EQ("keys.map", screen->FindAttribute("mapperfile")->GetValue());

  // A choice picked in the open list is stored without Enter.
  HWND box = OpenValueEditor(grid, L"output");
  ASSERT_NE(nullptr, box);
  ASSERT_TRUE(uitest::PickDropDownEntry(box, 2));
  Pump(200);
  EXPECT_EQ("opengl", screen->FindAttribute("output")->GetValue());
  EXPECT_EQ(L"opengl", CellText(grid, FindRow(grid, L"output"), 1));
}

TEST_F(XmlEditorTest, OwnerCanRefuseOrTakeOverAnEdit) {
  HWND editor = Open(game_);
  HWND grid = Grid(editor);
  ClickItem(Tree(editor), L"New Game");
  XmlAttribute* run = game_->FindChild("Main")->FindAttribute("Run");

  recorder_.answerToEdit = kEditorNoEdit;
  EXPECT_EQ(nullptr, OpenValueEditor(grid, L"Run"));
  EXPECT_EQ(L"", CellText(grid, FindRow(grid, L"Run"), 1));
  EXPECT_EQ(run, recorder_.heard.back().node);

  recorder_.answerToEdit = kEditorValueSet;
  recorder_.valueToSet = "C:\\KEEN\\KEEN1.EXE";
  ClickCell(grid, FindRow(grid, L"Run"), 1);
  EXPECT_EQ(0, SendMessageW(grid, LVM_GETEDITCONTROL, 0, 0));
  EXPECT_EQ(L"C:\\KEEN\\KEEN1.EXE", CellText(grid, FindRow(grid, L"Run"), 1));
}

TEST_F(XmlEditorTest, TextAreaIsKeptInTheFirstCDataSection) {
  HWND editor = Open(game_);
  HWND tree = Tree(editor), area = TextArea(editor);
  XmlElement* cpu = game_->FindChild("Cpu");
  XmlElement* dos = game_->FindChild("Dos");
  XmlElement* ipx = game_->FindChild("IPX");
  const std::string dosHelp = FirstCDataText(dos);

  ClickItem(tree, L"Cpu");
  SetFocus(area);
  SendMessageW(area, EM_SETSEL, 0, -1);
  TypeText(L"cycles");
  PressKey(VK_RETURN);
  TypeText(L"max");
  ClickItem(tree, L"Dos");  // leaving Cpu stores what was typed there,
  EXPECT_STREQ("cycles\r\nmax", FirstCDataText(cpu));  // with the profile's own line breaks

  SetFocus(area);
  SendMessageW(area, EM_SETSEL, 0, -1);
  PressKey(VK_DELETE);
  EXPECT_EQ(L"", AreaText(area));
  ClickItem(tree, L"IPX");  // an emptied text area leaves the help as it was
  EXPECT_EQ(dosHelp, FirstCDataText(dos));

  SetFocus(area);
  SendMessageW(area, EM_SETSEL, 0, -1);
  TypeText(L"ipx on");
  SendMessageW(editor, WM_CLOSE, 0, 0);  // closing stores the selected element's text
  Pump();
  EXPECT_FALSE(IsWindow(editor));
  EXPECT_STREQ("ipx on", FirstCDataText(ipx));
  ASSERT_EQ(1, recorder_.Count(kEditorClosing));  // the owner hears of the changes, last
  EXPECT_EQ(game_, recorder_.heard.back().node);
}

TEST_F(XmlEditorTest, TextOutsideAsciiShowsAndIsStoredAsUtf8) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "vantle-editor-utf8";
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / "vtl.xml";
  const std::string longValue(1500, 'L');
  wintest::WriteBytes(file,
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root><g>"
                      "<Main Name=\"M\xC3\xB6tley Cr\xC3\xBC" "e\" Genre=\"Gr\xC3\xBC" "nde\" "
                      "__Genre=\"Gr\xC3\xBC" "nde|||\xC3\x84rger|||???\" Long=\"" + longValue + "\">"
                      "<![CDATA[Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC]]></Main></g></root>");
  XmlDocument library(file.string().c_str());
  ASSERT_EQ(0, library.GetParseStatus());
  XmlElement* g = library.GetRoot()->FindChild("g");

  HWND editor = Open(g);
  HWND tree = Tree(editor), grid = Grid(editor);
  ClickItem(tree, L"M\u00F6tley Cr\u00FCe");
  EXPECT_EQ(L"M\u00F6tley Cr\u00FCe", CellText(grid, 0, 1));
  EXPECT_EQ(L"Gr\u00FC\u00DFe \u20AC", AreaText(TextArea(editor)));
  EXPECT_EQ(std::wstring(1500, L'L'), CellText(grid, FindRow(grid, L"Long"), 1));

  // "???" makes the box editable; it is not an entry itself.
  HWND box = OpenValueEditor(grid, L"Genre");
  ASSERT_NE(nullptr, box);
  EXPECT_EQ(CBS_DROPDOWN, GetWindowLongW(box, GWL_STYLE) & 3);
  ASSERT_EQ(2, SendMessageW(box, CB_GETCOUNT, 0, 0));
  wchar_t entry[64] = L"";
  SendMessageW(box, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(entry));
  EXPECT_STREQ(L"\u00C4rger", entry);
  EXPECT_EQ(0, SendMessageW(box, CB_GETCURSEL, 0, 0));
  PressKey(VK_ESCAPE);

  // Typed non-ASCII text, in a cell and in the text area, reaches the file as
  // UTF-8; a long value passes through its editor whole.
  ASSERT_NE(nullptr, OpenValueEditor(grid, L"Name"));
  TypeText(L"\u00C6gis \u65E5\u672C \U0001F600");
  PressKey(VK_RETURN);
  ASSERT_NE(nullptr, OpenValueEditor(grid, L"Long"));
  PressKey(VK_RETURN);
  HWND area = TextArea(editor);
  SetFocus(area);
  SendMessageW(area, EM_SETSEL, 0, -1);
  TypeText(L"\u00FC\u20AC\u0416");
  SendMessageW(editor, WM_CLOSE, 0, 0);
  Pump();
  ASSERT_TRUE(library.Save());
  const std::string saved = wintest::ReadBytes(file);
  std::filesystem::remove_all(folder);
  EXPECT_NE(std::string::npos, saved.find("Name=\"\xC3\x86gis \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\"")) << saved;
  EXPECT_NE(std::string::npos, saved.find("Long=\"" + longValue + "\""));
  EXPECT_NE(std::string::npos, saved.find("<![CDATA[\xC3\xBC\xE2\x82\xAC\xD0\x96]]>")) << saved;
}

TEST_F(XmlEditorTest, TwoEditorsShareTheBoldFontUntilTheLastCloses) {
  XmlElement* screen = game_->FindChild("Screen");
  for (const bool firstClosesFirst : {true, false}) {
    HWND first = Open(game_, nullptr);
    HWND second = Open(screen, nullptr);
    EXPECT_EQ(first, FindXmlEditor(game_->FindChild("Main")));
    EXPECT_EQ(nullptr, FindXmlEditor(profile_->GetRoot()->FindChild("Other", true)));
    HFONT bold = XmlEditorNameFont();
    ASSERT_NE(nullptr, bold);
    LOGFONTW font{};
    ASSERT_EQ(static_cast<int>(sizeof font), GetObjectW(bold, sizeof font, &font));
    EXPECT_EQ(FW_BOLD, font.lfWeight);

    HWND closing = firstClosesFirst ? first : second;
    HWND staying = firstClosesFirst ? second : first;
    SendMessageW(closing, WM_CLOSE, 0, 0);
    Pump();
    ClickItem(Tree(staying), L"Screen");  // the one left still draws its names bold
    RedrawWindow(staying, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    EXPECT_EQ(bold, XmlEditorNameFont());
    EXPECT_EQ(static_cast<int>(sizeof font), GetObjectW(bold, sizeof font, &font));

    SendMessageW(staying, WM_CLOSE, 0, 0);
    Pump();
    EXPECT_EQ(nullptr, XmlEditorNameFont());
    EXPECT_EQ(0, GetObjectW(bold, sizeof font, &font));  // released once, by the last
    EXPECT_EQ(nullptr, FindXmlEditor(game_));
  }
}

TEST_F(XmlEditorTest, OpenEntryEditorReturnsWhenTheEditorCloses) {
  // A timer closes the editor the way a person would, from inside the loop
  // that OpenEntryEditor runs.
  const UINT_PTR timer = SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR, DWORD) {
    if (HWND editor = FindWindowW(XML_EDITOR_CLASS, nullptr)) PostMessageW(editor, WM_CLOSE, 0, 0);
  });
  const ULONGLONG start = GetTickCount64();
  OpenEntryEditor(nullptr, -1, game_);
  KillTimer(nullptr, timer);
  EXPECT_EQ(nullptr, FindWindowW(XML_EDITOR_CLASS, nullptr));
  EXPECT_LT(GetTickCount64() - start, 10000u);
  OpenEntryEditor(nullptr, -1, nullptr);  // nothing to edit: returns at once
}

}  // namespace
