// The resources built into vtl64.exe, read back from the file itself: the
// embedded profile, the menu the main window hands its commands through, the
// wizard's controls, the icon and the manifest.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "VantleVersion.h"
#include "WinTestUtil.h"

#include <commctrl.h>

namespace {

class Module {
 public:
  Module()
      : handle_(LoadLibraryExA(wintest::HostToWindowsPath(VANTLE_EXE).c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~Module() {
    if (handle_) FreeLibrary(handle_);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  HMODULE get() const { return handle_; }

  std::string Resource(const char* name, const char* type) const {
    HRSRC found = FindResourceA(handle_, name, type);
    if (!found) return std::string();
    const char* data = static_cast<const char*>(LockResource(LoadResource(handle_, found)));
    return data ? std::string(data, SizeofResource(handle_, found)) : std::string();
  }

 private:
  HMODULE handle_;
};

struct MenuRow {
  UINT id;  // 0: separator
  const char* text;
};

// Every row of one pop-up: identifier and text, separators included.
std::vector<MenuRow> Rows(HMENU popup, std::vector<std::string>& keep) {
  std::vector<MenuRow> rows;
  for (int i = 0; i < GetMenuItemCount(popup); ++i) {
    char text[256] = "";
    MENUITEMINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof(text);
    GetMenuItemInfoA(popup, i, TRUE, &info);
    keep.push_back(text);
    rows.push_back({(info.fType & MFT_SEPARATOR) ? 0u : info.wID, nullptr});
  }
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i].text = keep[keep.size() - rows.size() + i].c_str();
  return rows;
}

void ExpectRows(HMENU popup, const std::vector<MenuRow>& expected) {
  std::vector<std::string> keep;
  const std::vector<MenuRow> rows = Rows(popup, keep);
  ASSERT_EQ(expected.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(expected[i].id, rows[i].id) << "row " << i;
    if (expected[i].id) {
      EXPECT_STREQ(expected[i].text, rows[i].text) << "row " << i;
    }
  }
}

std::string Text(HWND dialog, int id) {
  char text[256] = "";
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

std::string ClassOf(HWND dialog, int id) {
  char name[64] = "";
  GetClassNameA(GetDlgItem(dialog, id), name, sizeof name);
  return name;
}

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

TEST(Resources, TheEmbeddedProfileIsTheShippedDefaultProfile) {
  Module exe;
  ASSERT_NE(nullptr, exe.get());
  std::ifstream in(wintest::HostToWindowsPath(VANTLE_DEFAULT_PROFILE), std::ios::binary);
  const std::string shipped((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(shipped.empty());
  EXPECT_EQ(shipped, exe.Resource("DEFAULTXML", "DATA"));
}

TEST(Resources, ManifestBindsCommonControlsSixAndAsksForNoElevation) {
  Module exe;
  const std::string manifest = exe.Resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  EXPECT_NE(std::string::npos, manifest.find("Microsoft.Windows.Common-Controls"));
  EXPECT_NE(std::string::npos, manifest.find("version=\"6.0.0.0\""));
  EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
}

TEST(Resources, TheIconHasSmallAndLargeImages) {
  Module exe;
  for (int size : {16, 32, 48, 256}) {
    HICON icon = static_cast<HICON>(LoadImageA(exe.get(), "ICON_1", IMAGE_ICON, size, size, 0));
    ASSERT_NE(nullptr, icon) << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap{};
    GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(size, bitmap.bmWidth);
    EXPECT_EQ(32, bitmap.bmBitsPixel) << "with an alpha channel";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

TEST(Resources, TheMenuCarriesEveryCommandWithItsNumber) {
  Module exe;
  HMENU menu = LoadMenuA(exe.get(), "MENU_1");
  ASSERT_NE(nullptr, menu);
  ASSERT_EQ(3, GetMenuItemCount(menu));
  std::vector<std::string> keep;
  const char* const titles[] = {"Game", "Search", "Options"};
  for (int i = 0; i < 3; ++i) {
    char text[64] = "";
    GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(titles[i], text);
  }
  ExpectRows(GetSubMenu(menu, 0), {{101, "New...\tCtrl+N"},
                                   {114, "Import Games from Folder...\tCtrl+I"},
                                   {0, nullptr},
                                   {102, "Run\tEnter"},
                                   {103, "Setup\tCtrl+Enter"},
                                   {104, "Edit...\tShift+Enter"},
                                   {0, nullptr},
                                   {111, "Delete...\tDel"},
                                   {0, nullptr},
                                   {112, "Create Shortcut in program directory"},
                                   {113, "Save CONF File..."},
                                   {0, nullptr},
                                   {242, "Create CONF file for executable..."},
                                   {0, nullptr},
                                   {199, "Exit\tAlt+F4"}});
  ExpectRows(GetSubMenu(menu, 1), {{201, "In DOSBox site...\tF6"}, {202, "In Google...\tF7"}});
  ExpectRows(GetSubMenu(menu, 2), {{196, "Toggle Groups\tF4"},
                                   {0, nullptr},
                                   {194, "Edit 'Default' Profile for new games/right click"},
                                   {0, nullptr},
                                   {192, "Create Right Click 'Run with Vantle' (Admin)"},
                                   {195, "Delete Right Click 'Run with Vantle' (Admin)"},
                                   {0, nullptr},
                                   {193, "Restore Default Profile"},
                                   {203, "DOSBox Installations..."},
                                   {0, nullptr},
                                   {197, "Update Check...\tF5"},
                                   {198, "About..."}});
  DestroyMenu(menu);
}

// The version an update may not go below is the one the build declares.
TEST(Resources, TheFileVersionIsTheBuildsVersion) {
  const std::string path = wintest::HostToWindowsPath(VANTLE_EXE);
  DWORD ignored = 0;
  std::vector<char> data(GetFileVersionInfoSizeA(path.c_str(), &ignored));
  ASSERT_FALSE(data.empty());
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
  void* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", &fixed, &length));
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  EXPECT_EQ(static_cast<DWORD>(MAKELONG(VANTLE_VERSION_MINOR, VANTLE_VERSION_MAJOR)), info->dwFileVersionMS);
  EXPECT_EQ(static_cast<DWORD>(MAKELONG(0, VANTLE_VERSION_PATCH)), info->dwFileVersionLS);
  char* text = nullptr;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&text), &length));
  EXPECT_EQ(VANTLE_VERSION_TEXT, std::string(text));
}

TEST(Resources, TheMainDialogHoldsOneMultiSelectReportList) {
  Module exe;
  HWND dialog = CreateDialogParamA(exe.get(), "DIALOG_1", nullptr, QuietDialog, 0);
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ("Vantle", wintest::WindowText(dialog));
  EXPECT_EQ("SysListView32", ClassOf(dialog, 901));
  const LONG style = GetWindowLongA(GetDlgItem(dialog, 901), GWL_STYLE);
  EXPECT_EQ(LVS_REPORT, style & LVS_TYPEMASK);
  EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
  // Dialogs draw a control's plain border as a sunken edge.
  const LONG exStyle = GetWindowLongA(GetDlgItem(dialog, 901), GWL_EXSTYLE);
  EXPECT_TRUE((style & WS_BORDER) || (exStyle & WS_EX_CLIENTEDGE));
  EXPECT_FALSE(style & (LVS_SINGLESEL | LVS_SORTASCENDING | LVS_SORTDESCENDING));
  const LONG frame = GetWindowLongA(dialog, GWL_STYLE);
  EXPECT_TRUE(frame & WS_THICKFRAME);
  EXPECT_TRUE(frame & WS_MAXIMIZEBOX);
  DestroyWindow(dialog);
}

TEST(Resources, TheWizardHasItsControlsWithTheirTexts) {
  Module exe;
  HWND dialog = CreateDialogParamA(exe.get(), "DIALOG_NEW", nullptr, QuietDialog, 0);
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ("", wintest::WindowText(dialog));
  EXPECT_EQ("Edit", ClassOf(dialog, 101));
  EXPECT_EQ("New Game", Text(dialog, 101));
  EXPECT_EQ("Description", Text(dialog, 102));
  EXPECT_EQ("Edit", ClassOf(dialog, 102));
  EXPECT_EQ("ComboBox", ClassOf(dialog, 103));
  const LONG combo = GetWindowLongA(GetDlgItem(dialog, 103), GWL_STYLE);
  EXPECT_EQ(CBS_DROPDOWNLIST, combo & 3);
  EXPECT_TRUE(combo & CBS_SORT);
  EXPECT_EQ("Game is already in my disk - no install required", Text(dialog, 201));
  EXPECT_EQ("Game installs/plays from floppy", Text(dialog, 202));
  EXPECT_EQ("Game installs/plays from CD", Text(dialog, 203));
  EXPECT_EQ("I will mount my drives manually", Text(dialog, 204));
  EXPECT_EQ("Specify installer and/or executable now", Text(dialog, 301));
  EXPECT_EQ("OK", Text(dialog, IDOK));
  EXPECT_EQ("Cancel", Text(dialog, IDCANCEL));
  // The four ways a game reaches the emulator exclude each other.
  CheckRadioButton(dialog, 201, 204, 203);
  SendDlgItemMessageA(dialog, 201, BM_CLICK, 0, 0);
  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, 201));
  EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, 203));
  DestroyWindow(dialog);
}
