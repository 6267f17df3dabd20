// How long a library of N games takes from starting vtl64.exe to a filled,
// visible list, next to what loading the same file as a bare XML document
// takes in this process: the list should cost little beyond reading the file,
// and grow no faster than the library.
//   list_start_bench.exe VTL64_EXE DEFAULT_PROFILE [N...]
#include <windows.h>
#include <commctrl.h>

#include <chrono>
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

// Starts the program and waits for its list to show every game.
double StartToFilledList(const fs::path& exe, int games) {
  const auto start = Clock::now();
  wintest::Process vantle("\"" + exe.string() + "\"");
  HWND main = wintest::WaitForTopWindow(vantle.id(), 600000, wintest::HasMenu);
  HWND list = main ? GetDlgItem(main, 901) : nullptr;
  while (list && !(IsWindowVisible(list) && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == games)) Sleep(5);
  const double seconds = Seconds(start);
  TerminateProcess(vantle.Handle(), 0);  // no save: the next run starts from the same file
  vantle.Wait(10000, nullptr);
  return list ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: list_start_bench VTL64_EXE DEFAULT_PROFILE [N...]\n");
    return 2;
  }
  const std::string profile = wintest::ReadBytes(wintest::HostToWindowsPath(argv[2]));
  std::vector<int> sizes;
  for (int i = 3; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {0, 1000, 10000, 35000};

  const fs::path folder = fs::temp_directory_path() / "vantle-list-bench";
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::copy_file(wintest::HostToWindowsPath(argv[1]), folder / "vtl64.exe");
  std::printf("%8s %10s %14s %18s %8s\n", "games", "file MB", "XML load s", "start to list s", "ratio");
  for (int games : sizes) {
    const fs::path library = folder / "vtl.xml";
    wintest::WriteBytes(library, Library(profile, games));
    const auto load = Clock::now();
    { XmlDocument document(library.string().c_str()); }
    const double loadSeconds = Seconds(load);
    const double startSeconds = StartToFilledList(folder / "vtl64.exe", games);
    // Below a millisecond of loading the ratio says nothing but the cost of
    // starting a process.
    char ratio[16] = "-";
    if (loadSeconds >= 0.001) std::snprintf(ratio, sizeof ratio, "%.2f", startSeconds / loadSeconds);
    std::printf("%8d %10.1f %14.3f %18.3f %8s\n", games, fs::file_size(library) / 1048576.0, loadSeconds,
                startSeconds, ratio);
    std::fflush(stdout);
  }
  fs::remove_all(folder);
  return 0;
}
