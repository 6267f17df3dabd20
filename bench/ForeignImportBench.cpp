// How long vtl64.exe takes to review another front end's library of N games
// (a D-Fend Reloaded data folder, a LaunchBox platform file), from pressing
// Find Games to the review list holding every game, next to a bare read of
// the same library files (read whole, nothing parsed) in this process. A
// collection of 5,000 games must be shown within kGoalSeconds, and the time
// may grow no faster than the count: per game, the largest library may cost
// at most kLinearGoal times what the smallest costs.
//   foreign_import_bench.exe VTL64_EXE [--samples K] [--only D-Fend|LaunchBox] [N...]
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "WinTestUtil.h"
#include "resource.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kGoalSeconds = 5.0;
constexpr int kGoalGames = 5000;
constexpr double kLinearGoal = 1.2;

// Controls of the import dialog.
constexpr int kImportMenu = IDM_IMPORT_FOLDER, kFolderBox = IDC_IMPORT_FOLDER, kFindButton = IDC_IMPORT_FIND,
              kStatusLine = IDC_IMPORT_STATUS, kReviewList = IDC_IMPORT_LIST;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

using wintest::Spread;
using wintest::SpreadOf;

std::string Text(const Spread& s) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f/%.3f/%.3f", s.min, s.median, s.max);
  return text;
}

[[noreturn]] void Refuse(const std::string& why) {
  std::printf("foreign_import_bench: %s; no figure\n", why.c_str());
  std::fflush(stdout);
  std::exit(1);
}

// Writes through one buffer per file: thousands of small files are the point.
void Write(const fs::path& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  if (file == INVALID_HANDLE_VALUE || !WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    Refuse("cannot write " + path.string());
  CloseHandle(file);
}

// Every game lies in a folder of its own, with its program, as collections do.
void MakeGameFolders(const fs::path& games, int count) {
  for (int i = 0; i < count; ++i) {
    const fs::path game = games / ("G" + std::to_string(i));
    fs::create_directories(game);
    Write(game / "GAME.EXE", "MZ");
  }
}

const char* const kGenres[] = {"Action", "Adventure", "Puzzle", "RPG", "Strategy", "Shooter; Platform"};

// A D-Fend Reloaded profile as its program writes one: the game's folder as
// drive C, its program and installer, catalogue facts with escaped line
// breaks, and DOSBox settings in the emulator's own sections.
std::string DFendProfile(int i) {
  const std::string game = ".\\VirtualHD\\G" + std::to_string(i);
  return "[Extra]\r\nExe=" + game + "\\GAME.EXE\r\nGameParameters=-fast\r\nSetup=\r\nSetupParameters=\r\n"
         "Loadhigh=0\r\nNrOfMounts=1\r\n0=" + game + ";Drive;C;false;\r\nautoexec=\r\nEnvironment=\r\n"
         "[ExtraInfo]\r\nName=Game " + std::to_string(i) + "\r\nGenre=" + kGenres[i % 6] +
         "\r\nDeveloper=Studio " + std::to_string(i % 97) + "\r\nPublisher=House " + std::to_string(i % 31) +
         "\r\nYear=" + std::to_string(1985 + i % 15) + "\r\nLanguage=English\r\nFavorite=" + (i % 7 ? "0" : "1") +
         "\r\nNotes=First line[13][10]Second line with [61] sign\r\n"
         "[sdl]\r\nfullscreen=false\r\noutput=surface\r\n[dosbox]\r\nmachine=svga_s3\r\nmemsize=16\r\n"
         "[render]\r\nframeskip=0\r\nscaler=normal2x\r\n[cpu]\r\ncore=auto\r\ncycles=auto\r\n"
         "[mixer]\r\nrate=44100\r\n[midi]\r\nmpu401=intelligent\r\nmididevice=default\r\n"
         "[sblaster]\r\nsbtype=sb16\r\nsbbase=220\r\nirq=7\r\ndma=1\r\n[gus]\r\ngus=false\r\n"
         "[speaker]\r\npcspeaker=true\r\n[dos]\r\nxms=true\r\nems=true\r\numb=true\r\n";
}

// A D-Fend Reloaded data folder: Confs\*.prof and the games under VirtualHD.
void MakeDFendLibrary(const fs::path& folder, int count) {
  fs::create_directories(folder / "Confs");
  for (int i = 0; i < count; ++i) Write(folder / "Confs" / ("Game " + std::to_string(i) + ".prof"), DFendProfile(i));
  MakeGameFolders(folder / "VirtualHD", count);
}

// A LaunchBox folder with one platform file of count DOS games, paths
// relative to the LaunchBox folder.
void MakeLaunchBoxLibrary(const fs::path& folder, int count) {
  fs::create_directories(folder / "Data" / "Platforms");
  std::string xml = "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<LaunchBox>\r\n";
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i), game = "Games\\G" + n;
    xml += "  <Game>\r\n    <ApplicationPath>" + game + "\\GAME.EXE</ApplicationPath>\r\n"
           "    <CommandLine>-fast</CommandLine>\r\n    <Developer>Studio " + std::to_string(i % 97) +
           "</Developer>\r\n    <Favorite>" + (i % 7 ? "false" : "true") + "</Favorite>\r\n    <Genre>" + kGenres[i % 6] +
           "</Genre>\r\n    <ID>" + std::to_string(100000000 + i) + "-0000-0000-0000-000000000000</ID>\r\n"
           "    <LastPlayedDate>2019-04-02T21:52:31.12-05:00</LastPlayedDate>\r\n"
           "    <Notes>First line&#xD;\nSecond line</Notes>\r\n    <Platform>MS-DOS</Platform>\r\n"
           "    <PlayCount>" + std::to_string(i % 13) + "</PlayCount>\r\n    <PlayTime>" + std::to_string(i % 5000) +
           "</PlayTime>\r\n    <Publisher>House " + std::to_string(i % 31) + "</Publisher>\r\n"
           "    <ReleaseDate>" + std::to_string(1985 + i % 15) + "-05-01T00:00:00-05:00</ReleaseDate>\r\n"
           "    <RootFolder>" + game + "</RootFolder>\r\n    <Title>Game " + n + "</Title>\r\n"
           "    <UseDosBox>true</UseDosBox>\r\n  </Game>\r\n";
  }
  Write(folder / "Data" / "Platforms" / "MS-DOS.xml", xml + "</LaunchBox>\r\n");
  MakeGameFolders(folder / "Games", count);
}

// The bare read: every library file read whole, nothing parsed. Returns the
// number of files read (the anchor's own count).
int ReadWhole(const fs::path& folder, std::size_t* bytes) {
  int files = 0;
  std::vector<char> buffer(1 << 20);
  for (const fs::path& sub : {folder / "Confs", folder / "Data" / "Platforms"}) {
    if (!fs::is_directory(sub)) continue;
    for (const auto& item : fs::directory_iterator(sub)) {
      HANDLE file = CreateFileW(item.path().wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
      if (file == INVALID_HANDLE_VALUE) Refuse("the bare read cannot open " + item.path().string());
      DWORD got = 0;
      while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) *bytes += got;
      CloseHandle(file);
      ++files;
    }
  }
  return files;
}

bool IsImportDialog(HWND window) { return wintest::WindowText(window) == "Import Games from Folder"; }

// Opens the import dialog of the program's main window, has it look into
// folder and times it until its review list holds every game. Returns the
// seconds, or refuses when the list shows another count.
double TimeReview(const wintest::Process& vantle, HWND main, const fs::path& folder, int games) {
  PostMessageW(main, WM_COMMAND, kImportMenu, 0);
  HWND dialog = wintest::WaitForTopWindow(vantle.id(), 60000, IsImportDialog, true);
  if (!dialog) Refuse("the import dialog did not open");
  HWND list = GetDlgItem(dialog, kReviewList);
  SendMessageW(GetDlgItem(dialog, kFolderBox), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.wstring().c_str()));
  const auto start = Clock::now();
  // Sent, so that it returns once the dialog has begun to look; the status
  // line says "Looking for games..." until the list is filled.
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kFindButton, BN_CLICKED), 0);
  HWND status = GetDlgItem(dialog, kStatusLine);
  while (wintest::WindowText(status).rfind("Looking", 0) == 0) {
    if (Seconds(start) > 900) Refuse("no review after 900 s");
    Sleep(2);
  }
  const int shown = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  const double seconds = Seconds(start);
  if (shown != games) Refuse("the review listed " + std::to_string(shown) + " games of " + std::to_string(games));
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  for (int i = 0; i < 1000 && IsWindow(dialog); ++i) Sleep(5);
  return seconds;
}

struct Row {
  int games;
  Spread read, review;
};

void Measure(const char* kind, void (*make)(const fs::path&, int), const fs::path& work, const std::vector<int>& sizes,
             int samples) {
  std::printf("\n%s\n%8s %22s %24s %10s %9s\n", kind, "games", "bare read s min/med/max", "review s min/med/max",
              "ratio", "ms/game");
  std::vector<Row> rows;
  for (int games : sizes) {
    const fs::path folder = work / (std::string(kind) + std::to_string(games));
    fs::remove_all(folder);
    make(folder, games);
    std::vector<double> reads, reviews;
    fs::remove(work / "vtl.xml");
    wintest::Process vantle("\"" + (work / "vtl64.exe").string() + "\"");
    HWND main = wintest::WaitForTopWindow(vantle.id(), 60000, wintest::HasMenu);
    if (!main) Refuse("vtl64.exe showed no window");
    for (int k = 0; k < samples; ++k) {
      std::size_t bytes = 0;
      const auto read = Clock::now();
      const int files = ReadWhole(folder, &bytes);
      reads.push_back(Seconds(read));
      const int expected = std::strcmp(kind, "D-Fend") == 0 ? games : 1;
      if (files != expected) Refuse("the bare read saw " + std::to_string(files) + " files of " + std::to_string(expected));
      reviews.push_back(TimeReview(vantle, main, folder, games));
    }
    TerminateProcess(vantle.Handle(), 0);
    vantle.Wait(10000, nullptr);
    fs::remove_all(folder);
    const Row row{games, SpreadOf(reads), SpreadOf(reviews)};
    rows.push_back(row);
    std::printf("%8d %22s %24s %9.1fx %9.3f\n", games, Text(row.read).c_str(), Text(row.review).c_str(),
                row.review.median / std::max(row.read.median, 1e-6), row.review.median * 1000 / games);
    std::fflush(stdout);
  }
  for (const Row& row : rows)
    if (row.games == kGoalGames)
      std::printf("goal: %d games within %.0f s: %.2f s %s\n", kGoalGames, kGoalSeconds, row.review.median,
                  row.review.median <= kGoalSeconds ? "met" : "MISSED");
  if (rows.size() >= 2) {
    const Row &small = rows.front(), &large = rows.back();
    const double growth = (large.review.median / large.games) / (small.review.median / small.games);
    std::printf("goal: time per game at %d at most %.1fx that at %d: %.2fx %s\n", large.games, kLinearGoal,
                small.games, growth, growth <= kLinearGoal ? "met" : "MISSED");
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: foreign_import_bench VTL64_EXE [--samples K] [--only D-Fend|LaunchBox] [N...]\n");
    return 2;
  }
  std::vector<int> sizes;
  int samples = 3;
  std::string only;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--samples") == 0 && i + 1 < argc) samples = std::max(1, std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
    else sizes.push_back(std::atoi(argv[i]));
  }
  if (sizes.empty()) sizes = {5000, 10000, 35000};
  std::sort(sizes.begin(), sizes.end());

  const fs::path work = fs::temp_directory_path() / "vantle-foreign-bench";
  fs::remove_all(work);
  fs::create_directories(work);
  fs::copy_file(wintest::HostToWindowsPath(argv[1]), work / "vtl64.exe");
  std::printf("%d samples of each figure, shown as min/median/max; ratios of the medians\n", samples);
  if (only.empty() || only == "D-Fend") Measure("D-Fend", MakeDFendLibrary, work, sizes, samples);
  if (only.empty() || only == "LaunchBox") Measure("LaunchBox", MakeLaunchBoxLibrary, work, sizes, samples);
  fs::remove_all(work);
  return 0;
}
