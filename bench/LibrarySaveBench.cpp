// What guarding the library against lost outside changes costs: for a large
// generated library, the fingerprints taken at start beside the bare load,
// and a save of the program (file stamp, fingerprints, write) beside the bare
// write of the same document, then a save that first reads and merges one
// game another program added. Best of R runs, all in one process:
//   ./library_save_bench [--games N] [--runs R] [--profile defrc.xml]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <unistd.h>

#include "launcher/LibraryMerge.h"
#include "launcher/Storage.h"

namespace fs = std::filesystem;

namespace {

double Best(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
  double best = 1e9;
  for (int r = 0; r < runs; ++r) {
    prepare();
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

// The default profile's template entry `games` times, each with its own name.
std::string MakeLibrary(const fs::path& profile, int games) {
  std::ifstream in(profile, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t begin = text.find("\t\t<g>"), end = text.find("\t\t</g>\r\n");
  if (begin == std::string::npos || end == std::string::npos) {
    std::fprintf(stderr, "library_save_bench: no template entry in %s\n", profile.string().c_str());
    std::exit(2);
  }
  const std::string entry = text.substr(begin, end + 8 - begin);
  const std::size_t nameAt = entry.find("Name=\"New Game\"");
  std::string library = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root>\r\n\t<Games>\r\n";
  for (int i = 0; i < games; ++i)
    library += entry.substr(0, nameAt) + "Name=\"Game " + std::to_string(i + 1) + "\"" + entry.substr(nameAt + 15);
  return library + "\t</Games>\r\n</root>\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  int games = 35000, runs = 3;
  std::string profile = VANTLE_DEFAULT_PROFILE;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--games")) games = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--profile")) profile = argv[i + 1];
  }
  const fs::path folder = fs::temp_directory_path() / ("library-save-bench-" + std::to_string(getpid()));
  fs::create_directories(folder);
  const std::string path = (folder / "vtl.xml").string();
  const std::string library = MakeLibrary(profile, games);
  auto writeFile = [&](const std::string& text) { std::ofstream(path, std::ios::binary | std::ios::trunc) << text; };
  writeFile(library);
  std::printf("%d games, %.1f MB\n", games, library.size() / 1e6);

  double load = Best(runs, [] { GameDatabase.reset(); }, [&] { GameDatabase = std::make_unique<XmlDocument>(path.c_str()); });
  double prints = Best(runs, [] {}, [&] { RememberLibraryAsRead(ReadFileStamp(path)); });
  std::printf("%-46s %8.3f s\n%-46s %8.3f s  (%.1f%% of the load)\n", "load (bare XML read)", load,
              "fingerprints at start", prints, 100 * prints / load);

  double bare = Best(runs, [] {}, [] { GameDatabase->IsIntact() && GameDatabase->Save(); });
  RememberLibraryAsRead(ReadFileStamp(path));
  double guarded = Best(runs, [] {}, [] { SaveGameDatabase(); });
  std::printf("%-46s %8.3f s\n%-46s %8.3f s  (%+.1f%%)\n", "bare save (IsIntact and Save, as before)", bare,
              "program's save, file unchanged", guarded, 100 * (guarded - bare) / bare);

  // Another program adds a game between two saves of the program.
  std::string outside = library;
  outside.insert(outside.find("\t</Games>"), "\t\t<g><Main Name=\"Outside\"/></g>\r\n");
  int merged = 0;
  double merging = Best(
      runs,
      [&] {
        GameDatabase = std::make_unique<XmlDocument>(path.c_str());
        writeFile(library);
        RememberLibraryAsRead(ReadFileStamp(path));
        writeFile(outside);
      },
      [&] { merged += SaveGameDatabase(); });
  std::printf("%-46s %8.3f s  (%+.1f%% over the bare save; %d of %d saved)\n",
              "program's save, one game added outside", merging, 100 * (merging - bare) / bare, merged, runs);
  GameDatabase.reset();
  fs::remove_all(folder);
  return 0;
}
