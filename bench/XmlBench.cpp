// Load + Save of a large game database: our XML library against pugixml.
//
// The parent writes the database, then runs every measurement in a fresh child
// process (this same program with --engine), so that each engine's peak memory
// is its own and no run profits from another's heap. The child reports its
// times and its VmHWM; the parent also reads ru_maxrss from wait4 as a cross
// check, which is why the parent streams the file out instead of holding it.
#include "xml/Xml.h"
#include "xml/XmlInternal.h"

#include <pugixml.hpp>

#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// Peak resident set of this process image since exec, in KiB.
long PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

std::string ReplaceFirst(std::string text, const std::string& from, const std::string& to) {
  std::size_t at = text.find(from);
  if (at == std::string::npos) {
    std::fprintf(stderr, "xml_bench: the default profile has no %s\n", from.c_str());
    std::exit(2);
  }
  return text.replace(at, from.size(), to);
}

// The database: the default profile's declaration and root around `games`
// copies of its complete template entry, each with its own Name and
// Description. Written game by game.
std::uintmax_t WriteDatabase(const fs::path& profile, const fs::path& out, int games) {
  std::ifstream in(profile, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t begin = text.find("\t\t<g>");
  std::size_t end = text.find("\t\t</g>\r\n");
  std::size_t rootAt = text.find("<root>");
  if (begin == std::string::npos || end == std::string::npos || rootAt == std::string::npos) {
    std::fprintf(stderr, "xml_bench: cannot find the template entry in %s\n", profile.string().c_str());
    std::exit(2);
  }
  const std::string entry = text.substr(begin, end + 8 - begin);
  std::ofstream db(out, std::ios::binary | std::ios::trunc);
  db << text.substr(0, rootAt) << "<root>\r\n\t<Games>\r\n";
  char name[64], description[96];
  for (int i = 0; i < games; ++i) {
    std::snprintf(name, sizeof name, "Name=\"Game %05d\"", i + 1);
    std::snprintf(description, sizeof description, "Description=\"Generated game number %d of %d\"", i + 1, games);
    db << ReplaceFirst(ReplaceFirst(entry, "Name=\"New Game\"", name), "Description=\"Description\"", description);
  }
  db << "\t</Games>\r\n</root>\r\n";
  db.close();
  return fs::file_size(out);
}

// ---- child side ----------------------------------------------------------

int RunVantle(const std::string& in, const std::string& out) {
  // Save writes back to the file it was loaded from, so work on a copy; the
  // copy is made before the clock starts.
  fs::copy_file(in, out, fs::copy_options::overwrite_existing);
  auto t0 = std::chrono::steady_clock::now();
  XmlDocument doc(out.c_str());
  double load = Seconds(t0);
  auto t1 = std::chrono::steady_clock::now();
  bool saved = doc.Save();
  double save = Seconds(t1);
  XmlElement* games = doc.GetRoot() ? doc.GetRoot()->FindChild("Games") : nullptr;
  unsigned count = games ? games->GetChildCount() : 0;
  std::printf("%.6f %.6f %u %ld %d\n", load, save, count, PeakKiB(), saved && doc.GetParseStatus() == 0 ? 1 : 0);
  return 0;
}

int RunPugixml(const std::string& in, const std::string& out) {
  auto t0 = std::chrono::steady_clock::now();
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_file(in.c_str());
  double load = Seconds(t0);
  auto t1 = std::chrono::steady_clock::now();
  bool saved = doc.save_file(out.c_str(), "\t");
  double save = Seconds(t1);
  unsigned count = 0;
  for (pugi::xml_node g = doc.child("root").child("Games").first_child(); g; g = g.next_sibling()) ++count;
  std::printf("%.6f %.6f %u %ld %d\n", load, save, count, PeakKiB(), saved && parsed ? 1 : 0);
  return 0;
}

int RunNothing() {
  std::printf("0 0 0 %ld 1\n", PeakKiB());
  return 0;
}

// ---- parent side ---------------------------------------------------------

struct Sample {
  double load = 0, save = 0;
  unsigned games = 0;
  long hwmKiB = 0, maxrssKiB = 0;
  bool ok = false;
};

Sample RunChild(const std::string& engine, const std::string& in, const std::string& out) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    std::perror("pipe");
    std::exit(2);
  }
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    std::exit(2);
  }
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    execl("/proc/self/exe", "xml_bench", "--engine", engine.c_str(), in.c_str(), out.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  std::string reply;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) reply.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);

  Sample s;
  int ok = 0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(reply.c_str(), "%lf %lf %u %ld %d", &s.load, &s.save, &s.games, &s.hwmKiB, &ok) != 5) {
    std::fprintf(stderr, "xml_bench: the %s child failed (status %d): %s\n", engine.c_str(), status, reply.c_str());
    std::exit(1);
  }
  s.ok = ok == 1;
  s.maxrssKiB = usage.ru_maxrss;
  return s;
}

struct Result {
  double load = 1e30, save = 1e30, total = 1e30;
  long hwmKiB = 0, maxrssKiB = 0;
};

Result Measure(const std::string& engine, const std::string& in, const std::string& out, int runs, int games) {
  Result r;
  for (int i = 0; i < runs; ++i) {
    Sample s = RunChild(engine, in, out);
    if (!s.ok || (engine != "none" && s.games != static_cast<unsigned>(games))) {
      std::fprintf(stderr, "xml_bench: %s read %u games instead of %d (ok=%d)\n", engine.c_str(), s.games, games,
                   s.ok ? 1 : 0);
      std::exit(1);
    }
    r.load = std::min(r.load, s.load);
    r.save = std::min(r.save, s.save);
    r.total = std::min(r.total, s.load + s.save);
    r.hwmKiB = std::max(r.hwmKiB, s.hwmKiB);
    r.maxrssKiB = std::max(r.maxrssKiB, s.maxrssKiB);
  }
  return r;
}

int Usage() {
  std::fprintf(stderr, "usage: xml_bench [--games N] [--runs R] [--profile defrc.xml] [--keep]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--engine") == 0) {
    std::string engine = argv[2];
    if (engine == "vantle") return RunVantle(argv[3], argv[4]);
    if (engine == "pugixml") return RunPugixml(argv[3], argv[4]);
    if (engine == "none") return RunNothing();
    return Usage();
  }

  int games = 10000, runs = 3;
  bool keep = false;
  std::string profile = VANTLE_DEFAULT_PROFILE;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--games" && i + 1 < argc) games = std::atoi(argv[++i]);
    else if (arg == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
    else if (arg == "--profile" && i + 1 < argc) profile = argv[++i];
    else if (arg == "--keep") keep = true;
    else return Usage();
  }
  if (games < 1 || runs < 1) return Usage();

  std::string folderTemplate = (fs::temp_directory_path() / "vantle-xmlbench-XXXXXX").string();
  if (!mkdtemp(folderTemplate.data())) {
    std::perror("mkdtemp");
    return 2;
  }
  const fs::path folder = folderTemplate;
  const std::string db = (folder / "games.xml").string();
  const std::uintmax_t size = WriteDatabase(profile, db, games);

  Result none = Measure("none", db, (folder / "none.xml").string(), 1, games);
  Result ours = Measure("vantle", db, (folder / "vantle.xml").string(), runs, games);
  Result pugi = Measure("pugixml", db, (folder / "pugixml.xml").string(), runs, games);

  const double mib = 1024.0 * 1024.0;
  std::printf("database: %d games, %ju bytes (%.1f MiB); best of %d runs, each in its own process\n", games, size,
              static_cast<double>(size) / mib, runs);
  std::printf("process baseline (no engine): %.1f MiB\n\n", none.hwmKiB / 1024.0);
  std::printf("%-8s %10s %10s %10s %12s %12s %10s\n", "engine", "load ms", "save ms", "total ms", "peak MiB",
              "maxrss MiB", "peak/file");
  auto row = [&](const char* name, const Result& r) {
    std::printf("%-8s %10.1f %10.1f %10.1f %12.1f %12.1f %9.2fx\n", name, r.load * 1e3, r.save * 1e3, r.total * 1e3,
                r.hwmKiB / 1024.0, r.maxrssKiB / 1024.0, r.hwmKiB * 1024.0 / static_cast<double>(size));
  };
  row("vantle", ours);
  row("pugixml", pugi);
  const double totalRatio = ours.total / pugi.total;
  const double memoryRatio = ours.hwmKiB * 1024.0 / static_cast<double>(size);
  // A large file is read in pieces, one per processor: say so beside a
  // peer that reads on one.
  std::printf("\nvantle reads in pieces on up to %u processors, pugixml on one\n",
              std::min<unsigned>(std::thread::hardware_concurrency(), xml_detail::kMostPieces));
  std::printf("vantle / pugixml: load %.2fx, save %.2fx, total %.2fx (goal: total within 2x) %s\n",
              ours.load / pugi.load, ours.save / pugi.save, totalRatio, totalRatio <= 2.0 ? "met" : "MISSED");
  std::printf("vantle peak memory / file size: %.2fx (goal: within 3x) %s\n", memoryRatio,
              memoryRatio <= 3.0 ? "met" : "MISSED");

  if (keep) {
    std::printf("files kept in %s\n", folder.string().c_str());
  } else {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  return 0;
}
