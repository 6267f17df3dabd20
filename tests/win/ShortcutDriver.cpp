// Drives RunShortcut as the main window does: fills a game list from a
// database (one item per game, in database order, name in column 1, the
// game's element as item parameter) and hands over the -shortcut argument.
// RunShortcut ends the process with 0 when it starts a game; when it returns,
// this exits with 3.
//
//   shortcut_driver.exe PROGRAM_FOLDER PROFILE_FOLDER DATABASE ARGUMENT
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "launcher/GameLaunch.h"
#include "launcher/GameSchema.h"
#include "launcher/Storage.h"
#include "text/AnsiText.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Read wide, as the program reads its own command line.
  const std::vector<std::string> arguments = CommandLineArgumentsUtf8();
  if (arguments.size() != 5) return 2;
  ProgramFolder = arguments[1];
  ProfileFolder = arguments[2];
  XmlDocument database(arguments[3].c_str());
  XmlElement* games = GamesOf(database);
  if (!games) return 2;

  InitCommonControls();
  HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", LVS_REPORT, 0, 0, 400, 300, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  if (!list) return 2;
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = 100;
  column.pszText = const_cast<char*>("#");
  SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
  column.pszText = const_cast<char*>("Name");
  SendMessageA(list, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));

  for (unsigned i = 0; i < games->GetChildCount(); ++i) {
    XmlElement* game = games->GetChildren()[i];
    std::string name = AttributeText(Section(game, "Main"), "Name");
    LVITEMA item{};
    item.mask = LVIF_PARAM | LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<char*>("");
    item.lParam = reinterpret_cast<LPARAM>(game);
    const int index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMA text{};
    text.iSubItem = 1;
    text.pszText = name.data();
    SendMessageA(list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&text));
  }
  GameListWindow = list;
  RunShortcut(arguments[4].c_str());
  DestroyWindow(list);
  return 3;
}
