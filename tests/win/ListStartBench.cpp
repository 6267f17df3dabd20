// How long a library of N games takes from starting vtl64.exe to a filled,
// visible list, next to what loading the same file as a bare XML document
// takes in this process: the list should cost little beyond reading the file,
// and grow no faster than the library.
//   list_start_bench.exe VTL64_EXE DEFAULT_PROFILE [N...]
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
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

// The list may cost a fifth more than reading the file; an import a fifth
// more than walking the folders it reads.
constexpr double kGoal = 1.2;
constexpr int kGoalFrom = 10000;  // games: the list's goal holds from here

using wintest::Spread;
using wintest::SpreadOf;

std::string Text(const Spread& s, const char* format) {
  char text[96];
  std::snprintf(text, sizeof text, format, s.min, s.median, s.max);
  return text;
}

std::string Verdict(double ratio) { return ratio <= kGoal ? "met" : "MISSED"; }

[[noreturn]] void Refuse(const std::string& why) {
  std::printf("list_start_bench: %s; no ratio\n", why.c_str());
  std::fflush(stdout);
  std::exit(1);
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
  // Looked for every millisecond or two: the usual 50 ms between looks would
  // add as much as that to a start of a few hundred.
  HWND main = wintest::WaitForTopWindow(vantle.id(), 600000, wintest::HasMenu, false, 2);
  // The list is asked for anew each time: a list that cannot draw groups is
  // made again when the window starts.
  HWND list = nullptr;
  while (main && IsWindow(main) && Seconds(start) < 600) {
    list = GetDlgItem(main, 901);
    if (list && IsWindowVisible(list) && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == games) break;
    list = nullptr;
    Sleep(1);
  }
  const double seconds = Seconds(start);
  if (list && games > 0) *find = TimeFind(main);
  TerminateProcess(vantle.Handle(), 0);  // no save: the next run starts from the same file
  vantle.Wait(10000, nullptr);
  return list ? seconds : -1;
}

// The bare load in a process of its own: this program started again to load
// the library and end, as the program itself starts and loads before its
// list. Its exit code is the number of games it read.
double FreshProcessLoad(const fs::path& library, int games) {
  wchar_t self[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const auto start = Clock::now();
  wintest::Process loader(L"\"" + std::wstring(self) + L"\" --load \"" + library.wstring() + L"\"");
  DWORD read = 0;
  if (!loader.Wait(600000, &read)) Refuse("the bare load in a process of its own did not end");
  const double seconds = Seconds(start);
  if (static_cast<int>(read) != games)
    Refuse("the bare load in a process of its own read " + std::to_string(read) + " games of " + std::to_string(games));
  return seconds;
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

void ImportBench(const fs::path& folder, const std::vector<int>& sizes, int samples) {
  std::printf("\n%8s %24s %24s %8s %s\n", "folders", "walk s min/med/max", "-import s min/med/max", "ratio",
              "(goal)");
  for (int games : sizes) {
    const fs::path tree = folder / "games";
    fs::remove_all(tree);
    MakeGameFolders(tree, games);
    std::vector<double> walks, imports;
    for (int k = 0; k < samples; ++k) {
      fs::remove(folder / "vtl.xml");
      const auto walk = Clock::now();
      const int files = ListTwoLevels(tree);
      walks.push_back(Seconds(walk));
      if (files != 2 * games) Refuse("the walk saw " + std::to_string(files) + " files of " + std::to_string(2 * games));
      const auto start = Clock::now();
      wintest::Process vantle("\"" + (folder / "vtl64.exe").string() + "\" -import \"" + tree.string() + "\"");
      DWORD code = 1;
      vantle.Wait(600000, &code);
      imports.push_back(Seconds(start));
      if (code != 0) Refuse("-import ended with " + std::to_string(code));
      XmlDocument library((folder / "vtl.xml").string().c_str());
      XmlElement* list = library.GetRoot() ? library.GetRoot()->FindChild("Games") : nullptr;
      const int added = list ? static_cast<int>(list->GetChildCount()) : 0;
      if (added != games) Refuse("-import added " + std::to_string(added) + " games of " + std::to_string(games));
    }
    const Spread walk = SpreadOf(walks), import = SpreadOf(imports);
    const double ratio = import.median / walk.median;
    std::printf("%8d %24s %24s %7.2fx (%.1fx) %s\n", games, Text(walk, "%.3f/%.3f/%.3f").c_str(),
                Text(import, "%.3f/%.3f/%.3f").c_str(), ratio, kGoal, Verdict(ratio).c_str());
    std::fflush(stdout);
  }
}

// What the memory of a program holding a library may reach above the same
// program with no games, for every byte of the library's file: the tree it
// keeps is about that size; the file's own bytes must not stay on top of it.
constexpr double kMemoryGoal = 1.3;

struct MemorySample {
  double peak = 0, now = 0;  // MB: the process's peak and present working set
};

// Starts the program on the library in folder, waits for its list to show
// every game and a moment more for whatever follows the fill, and reads its
// memory counters. Wine takes them from the Linux process's VmHWM and VmRSS.
MemorySample MemoryAtFilledList(const fs::path& exe, int games) {
  MemorySample sample;
  wintest::Process vantle("\"" + exe.string() + "\"");
  HWND main = wintest::WaitForTopWindow(vantle.id(), 600000, wintest::HasMenu);
  HWND list = main ? GetDlgItem(main, 901) : nullptr;
  const auto start = Clock::now();
  while (list && !(IsWindowVisible(list) && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == games) && Seconds(start) < 600)
    Sleep(5);
  const bool shown = list && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == games;
  Sleep(1000);
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  const bool read = GetProcessMemoryInfo(vantle.Handle(), &counters, sizeof counters) != 0;
  TerminateProcess(vantle.Handle(), 0);
  vantle.Wait(10000, nullptr);
  if (!shown) Refuse("the program showed no list of " + std::to_string(games) + " games");
  if (!read || counters.PeakWorkingSetSize == 0 || counters.PeakWorkingSetSize < counters.WorkingSetSize)
    Refuse("no memory counters for the program (" + std::to_string(GetLastError()) + ")");
  sample.peak = counters.PeakWorkingSetSize / 1048576.0;
  sample.now = counters.WorkingSetSize / 1048576.0;
  return sample;
}

// The peak of the program holding each library size above its peak with an
// empty library, as a multiple of the library file's size.
void MemoryBench(const fs::path& folder, const std::string& profile, const std::vector<int>& sizes, int samples) {
  std::printf("\n%7s %7s %24s %24s %24s %8s %s\n", "games", "file MB", "empty peak MB min/med/max",
              "peak MB min/med/max", "after fill MB min/med/max", "ratio", "(goal)");
  const fs::path library = folder / "vtl.xml";
  for (int games : sizes) {
    wintest::WriteBytes(library, Library(profile, games));
    const double fileMb = fs::file_size(library) / 1048576.0;
    std::vector<double> empties, peaks, nows;
    for (int k = 0; k < samples; ++k) {
      wintest::WriteBytes(library, Library(profile, 0));
      empties.push_back(MemoryAtFilledList(folder / "vtl64.exe", 0).peak);
      wintest::WriteBytes(library, Library(profile, games));
      const MemorySample full = MemoryAtFilledList(folder / "vtl64.exe", games);
      peaks.push_back(full.peak);
      nows.push_back(full.now);
    }
    const Spread empty = SpreadOf(empties), peak = SpreadOf(peaks), now = SpreadOf(nows);
    if (peak.median <= empty.median) Refuse("the library took no memory beyond an empty one");
    const double ratio = (peak.median - empty.median) / fileMb;
    std::printf("%7d %7.1f %24s %24s %24s %7.2fx (%.1fx) %s\n", games, fileMb, Text(empty, "%.1f/%.1f/%.1f").c_str(),
                Text(peak, "%.1f/%.1f/%.1f").c_str(), Text(now, "%.1f/%.1f/%.1f").c_str(), ratio, kMemoryGoal,
                ratio <= kMemoryGoal ? "met" : "MISSED");
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--load") == 0) {
    XmlDocument document(argv[2]);
    XmlElement* list = document.GetRoot() ? document.GetRoot()->FindChild("Games") : nullptr;
    return list ? static_cast<int>(list->GetChildCount()) : -1;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: list_start_bench VTL64_EXE DEFAULT_PROFILE [N...]\n");
    return 2;
  }
  const std::string profile = wintest::ReadBytes(wintest::HostToWindowsPath(argv[2]));
  // N... sizes the library; what follows "--import" sizes the folder trees
  // to import, what follows "--memory" the libraries whose memory is taken.
  std::vector<int> sizes, importSizes, memorySizes;
  std::vector<int>* into = &sizes;
  int samples = 3;
  bool importing = false, memory = false;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--import") == 0) importing = true, into = &importSizes;
    else if (std::strcmp(argv[i], "--memory") == 0) memory = true, into = &memorySizes;
    else if (std::strcmp(argv[i], "--samples") == 0 && i + 1 < argc) samples = std::max(1, std::atoi(argv[++i]));
    else into->push_back(std::atoi(argv[i]));
  }
  // Without arguments every figure is taken; "--memory" alone takes only
  // the memory of the largest library.
  const bool none = sizes.empty() && !importing && !memory;
  if (none) sizes = {0, 1000, 10000, 35000};
  if (importSizes.empty() && !importing && !memory) importSizes = {5000};
  if (memorySizes.empty() && (none || memory)) memorySizes = {35000};

  const fs::path folder = fs::temp_directory_path() / "vantle-list-bench";
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::copy_file(wintest::HostToWindowsPath(argv[1]), folder / "vtl64.exe");
  std::printf("%d samples of each figure, shown as min/median/max; ratios of the medians\n", samples);
  if (!sizes.empty())
    std::printf("%7s %7s %24s %24s %8s %7s %9s %15s %9s %24s %8s\n", "games", "file MB", "XML load s",
                "start to list s", "ratio", "(goal)", "refill ms", "find key ms med", "worst ms",
                "load in own process s", "ratio");
  for (int games : sizes) {
    const fs::path library = folder / "vtl.xml";
    wintest::WriteBytes(library, Library(profile, games));
    std::vector<double> loads, starts, freshLoads;
    FindTimes find;
    for (int k = 0; k < samples; ++k) {
      const auto load = Clock::now();
      int read = 0;
      {
        XmlDocument document(library.string().c_str());
        XmlElement* list = document.GetRoot() ? document.GetRoot()->FindChild("Games") : nullptr;
        read = list ? static_cast<int>(list->GetChildCount()) : -1;
      }
      loads.push_back(Seconds(load));
      if (read != games) Refuse("the bare load read " + std::to_string(read) + " games of " + std::to_string(games));
      const double startSeconds = StartToFilledList(folder / "vtl64.exe", games, &find);
      if (startSeconds < 0) Refuse("the program showed no list of " + std::to_string(games) + " games");
      starts.push_back(startSeconds);
      freshLoads.push_back(FreshProcessLoad(library, games));
    }
    const Spread load = SpreadOf(loads), start = SpreadOf(starts), fresh = SpreadOf(freshLoads);
    // Below a millisecond of loading the ratio says nothing but the cost of
    // starting a process; below kGoalFrom games that cost still outweighs
    // the list, and the goal is not held against it.
    char ratio[16] = "-", goal[48] = "";
    if (load.median >= 0.001) {
      const double r = start.median / load.median;
      std::snprintf(ratio, sizeof ratio, "%.2fx", r);
      if (games >= kGoalFrom) std::snprintf(goal, sizeof goal, "(%.1fx) %s", kGoal, Verdict(r).c_str());
    }
    std::printf("%7d %7.1f %24s %24s %8s %-14s %9.1f %15.1f %9.1f %24s %7.2fx\n", games,
                fs::file_size(library) / 1048576.0, Text(load, "%.3f/%.3f/%.3f").c_str(),
                Text(start, "%.3f/%.3f/%.3f").c_str(), ratio, goal, find.refill, find.median, find.worst,
                Text(fresh, "%.3f/%.3f/%.3f").c_str(), start.median / fresh.median);
    std::fflush(stdout);
  }
  if (!importSizes.empty()) ImportBench(folder, importSizes, samples);
  if (!memorySizes.empty()) MemoryBench(folder, profile, memorySizes, samples);
  fs::remove_all(folder);
  return 0;
}
