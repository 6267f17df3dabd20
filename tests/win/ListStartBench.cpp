// How long a library of N games takes from starting vtl64.exe to a filled,
// visible list, next to what loading the same file as a bare XML document
// takes in this process: the list should cost little beyond reading the file,
// and grow no faster than the library.
//   list_start_bench.exe VTL64_EXE DEFAULT_PROFILE [N...]
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "WinTestUtil.h"
#include "xml/Xml.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// N copies of the profile's template game, each with its own name and one of
// the categories, as a library the size real collections reach.
std::string Library(const std::string& profile, int games) {
  const size_t begin = profile.find("<g>"), end = profile.find("</g>") + 4;
  const std::string game = profile.substr(begin, end - begin);
  const size_t name = game.find("Name=\"New Game\"");
  static const char* const kCategories[] = {"Action", "Arcade", "Adventure", "Puzzle", "RPG", "Sport"};
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root>\r\n<Games>\r\n";
  xml.reserve(static_cast<size_t>(games) * (game.size() + 40));
  for (int i = 0; i < games; ++i) {
    std::string copy = game;
    copy.replace(name, 15, "Name=\"Game " + std::to_string(i) + "\"");
    const size_t category = copy.find("Category=\"Category\"");
    copy.replace(category, 19, std::string("Category=\"") + kCategories[i % 6] + "\"");
    xml += copy + "\r\n";
  }
  return xml + "</Games>\r\n</root>\r\n";
}

struct FindTimes {
  double refill = 0;       // ms: the whole list filled anew (the anchor)
  double median = 0, worst = 0;  // ms per keystroke in the find box
};

// Types a name into the find box a key at a time, each key handled before the
// next (a sent message returns once the list shows what the box holds), and
// times it beside a refill of the whole list.
FindTimes TimeFind(HWND main) {
  FindTimes times;
  HWND box = GetDlgItem(main, 902);
  if (!box) return times;
  const auto refill = Clock::now();
  SendMessageW(main, WM_COMMAND, 196, 0);  // toggle groups: the list filled anew
  times.refill = Seconds(refill) * 1000;
  SendMessageW(main, WM_COMMAND, 196, 0);
  std::vector<double> keys;
  for (const wchar_t* typed : {L"Game 1234", L"action", L"zzz"}) {
    SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    for (const wchar_t* c = typed; *c; ++c) {
      const auto key = Clock::now();
      SendMessageW(box, WM_CHAR, *c, 1);
      keys.push_back(Seconds(key) * 1000);
    }
  }
  // Clearing the box brings every game back: a keystroke too.
  const auto clear = Clock::now();
  SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  keys.push_back(Seconds(clear) * 1000);
  std::sort(keys.begin(), keys.end());
  times.median = keys[keys.size() / 2];
  times.worst = keys.back();
  return times;
}

// Starts the program and waits for its list to show every game.
double StartToFilledList(const fs::path& exe, int games, FindTimes* find) {
  const auto start = Clock::now();
  wintest::Process vantle("\"" + exe.string() + "\"");
  HWND main = wintest::WaitForTopWindow(vantle.id(), 600000, wintest::HasMenu);
  HWND list = main ? GetDlgItem(main, 901) : nullptr;
  while (list && !(IsWindowVisible(list) && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == games)) Sleep(5);
  const double seconds = Seconds(start);
  if (list && games > 0) *find = TimeFind(main);
  TerminateProcess(vantle.Handle(), 0);  // no save: the next run starts from the same file
  vantle.Wait(10000, nullptr);
  return list ? seconds : -1;
}

// games folders, each with a game and its installer, under folder.
void MakeGameFolders(const fs::path& folder, int games) {
  for (int i = 0; i < games; ++i) {
    const fs::path game = folder / ("Game " + std::to_string(i));
    fs::create_directories(game);
    wintest::WriteBytes(game / "GAME.EXE", "MZ");
    wintest::WriteBytes(game / "INSTALL.EXE", "MZ");
  }
}

// The bare walk an import makes: every folder under folder and theirs listed.
int ListTwoLevels(const fs::path& folder) {
  int files = 0;
  for (const auto& game : fs::directory_iterator(folder))
    for (const auto& item : fs::directory_iterator(game.path())) files += item.is_regular_file() ? 1 : 0;
  return files;
}

void ImportBench(const fs::path& folder, const std::vector<int>& sizes) {
  std::printf("\n%8s %16s %14s %8s\n", "folders", "walk the tree s", "-import s", "ratio");
  for (int games : sizes) {
    const fs::path tree = folder / "games";
    fs::remove_all(tree);
    fs::remove(folder / "vtl.xml");
    MakeGameFolders(tree, games);
    const auto walk = Clock::now();
    ListTwoLevels(tree);
    const double walkSeconds = Seconds(walk);
    const auto start = Clock::now();
    wintest::Process vantle("\"" + (folder / "vtl64.exe").string() + "\" -import \"" + tree.string() + "\"");
    DWORD code = 1;
    vantle.Wait(600000, &code);
    const double importSeconds = Seconds(start);
    std::printf("%8d %16.3f %14.3f %8.2f%s\n", games, walkSeconds, importSeconds, importSeconds / walkSeconds,
                code == 0 ? "" : "  (import failed)");
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: list_start_bench VTL64_EXE DEFAULT_PROFILE [N...]\n");
    return 2;
  }
  const std::string profile = wintest::ReadBytes(wintest::HostToWindowsPath(argv[2]));
  // N... sizes the library; what follows "--import" sizes the folder trees
  // to import.
  std::vector<int> sizes, importSizes;
  bool importing = false;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--import") == 0) importing = true;
    else (importing ? importSizes : sizes).push_back(std::atoi(argv[i]));
  }
  if (sizes.empty() && !importing) sizes = {0, 1000, 10000, 35000};
  if (importSizes.empty() && !importing) importSizes = {5000};

  const fs::path folder = fs::temp_directory_path() / "vantle-list-bench";
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::copy_file(wintest::HostToWindowsPath(argv[1]), folder / "vtl64.exe");
  std::printf("%8s %10s %14s %18s %8s %12s %16s %12s\n", "games", "file MB", "XML load s", "start to list s", "ratio",
              "refill ms", "find key ms med", "worst ms");
  for (int games : sizes) {
    const fs::path library = folder / "vtl.xml";
    wintest::WriteBytes(library, Library(profile, games));
    const auto load = Clock::now();
    { XmlDocument document(library.string().c_str()); }
    const double loadSeconds = Seconds(load);
    FindTimes find;
    const double startSeconds = StartToFilledList(folder / "vtl64.exe", games, &find);
    // Below a millisecond of loading the ratio says nothing but the cost of
    // starting a process.
    char ratio[16] = "-";
    if (loadSeconds >= 0.001) std::snprintf(ratio, sizeof ratio, "%.2f", startSeconds / loadSeconds);
    std::printf("%8d %10.1f %14.3f %18.3f %8s %12.1f %16.1f %12.1f\n", games, fs::file_size(library) / 1048576.0,
                loadSeconds, startSeconds, ratio, find.refill, find.median, find.worst);
    std::fflush(stdout);
  }
  if (!importSizes.empty()) ImportBench(folder, importSizes);
  fs::remove_all(folder);
  return 0;
}
