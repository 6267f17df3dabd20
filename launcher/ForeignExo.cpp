#include "launcher/ForeignExo.h"
#include "launcher/ForeignText.h"

#include <algorithm>

#include "launcher/ForeignAutoexec.h"
#include "launcher/ForeignDosBoxConf.h"

const char* const kExoSource = "eXoDOS";

namespace {

bool EndsWithIgnoringCase(const std::string& text, const char* end) {
  const std::string tail(end);
  return text.size() >= tail.size() && SameTextIgnoringCase(text.substr(text.size() - tail.size()), tail);
}

// The word at from, a quoted one whole, and where it ends.
std::string WordAt(const std::string& line, std::size_t from, std::size_t* end = nullptr) {
  while (from < line.size() && (line[from] == ' ' || line[from] == '\t')) ++from;
  std::size_t stop;
  std::string word;
  if (from < line.size() && line[from] == '"') {
    stop = line.find('"', from + 1);
    word = line.substr(from + 1, stop == std::string::npos ? std::string::npos : stop - from - 1);
    stop = stop == std::string::npos ? line.size() : stop + 1;
  } else {
    stop = line.find_first_of(" \t", from);
    if (stop == std::string::npos) stop = line.size();
    word = line.substr(from, stop - from);
  }
  if (end) *end = stop;
  return word;
}

// "Commander Keen 4 (1991)": the name, and the year in its last parentheses.
void NameAndYear(const std::string& title, ForeignGame& game) {
  std::string name = title;
  const std::size_t open = name.rfind(" (");
  if (open != std::string::npos && name.size() == open + 7 && name.back() == ')' &&
      std::all_of(name.begin() + static_cast<long>(open) + 2, name.end() - 1,
                  [](char c) { return c >= '0' && c <= '9'; })) {
    if (game.year.empty()) game.year = name.substr(open + 2, 4);
    name.resize(open);
  }
  if (game.name.empty()) game.name = name;
}

// What the batch file starts: the configuration after "-conf" and the build
// of DOSBox (the folder holding the DOSBox program the line starts).
void ReadBatch(const std::string& text, std::string& conf, std::string& build) {
  for (const std::string& raw : TextLines(text)) {
    const std::string line = Trimmed(raw);
    const std::size_t at = Lower(line).find("-conf ");
    if (at == std::string::npos) continue;
    conf = WordAt(line, at + 6);
    std::string program = WordAt(line, 0);
    if (!program.empty() && program[0] == '@') program.erase(0, 1);
    if (Lower(NamePart(program)).find("dosbox") != std::string::npos && !FolderPart(program).empty())
      build = NamePart(FolderPart(program));
    return;
  }
}

}  // namespace

std::string ExoFolderOf(PathFinder& finder, const std::string& path) {
  bool found = false;
  if (SameTextIgnoringCase(NamePart(path), "eXoDOS")) {
    finder.Find(path, "!dos", &found);
    if (found) return FolderPart(path);
  }
  finder.Find(path, "eXoDOS\\!dos", &found);
  if (found) return path;
  const std::string exo = finder.Find(path, "eXo", &found);
  if (found) finder.Find(exo, "eXoDOS\\!dos", &found);
  if (found) return exo;
  return std::string();
}

bool ReadExoGame(const ForeignFiles& files, PathFinder& finder, const std::string& exo, const std::string& gameFolder,
                 ForeignGame& game) {
  std::string batch, confWritten, build;
  for (const FolderItem& item : finder.List(gameFolder))
    if (!item.folder && EndsWithIgnoringCase(item.name, ".bat") && !SameTextIgnoringCase(item.name, "install.bat") &&
        (batch.empty() || item.name < batch))
      batch = item.name;
  std::string bytes;
  if (!batch.empty() && files.read(finder.Find(gameFolder, batch), bytes))
    ReadBatch(TextAsUtf8(bytes), confWritten, build);

  // The batch file runs from the eXo folder; its configuration may also be
  // written from its own folder.
  bool found = false;
  std::string conf;
  if (!confWritten.empty()) {
    conf = finder.Find(exo, confWritten, &found);
    if (!found) conf = finder.Find(gameFolder, confWritten, &found);
  }
  if (!found) conf = finder.Find(gameFolder, "dosbox.conf", &found);
  if (!found && batch.empty()) return false;

  game.source = kExoSource;
  if (!batch.empty())
    NameAndYear(batch.substr(0, batch.size() - 4), game);
  else
    NameAndYear(NamePart(gameFolder), game);
  if (game.file.empty()) game.file = found ? conf : finder.Find(gameFolder, batch);
  game.engine = build;
  bool started = false;
  if (found && files.read(conf, bytes))
    started = ReadGameDosBoxConf(TextAsUtf8(bytes), exo, finder, game);
  else
    game.notCarried.push_back("DOSBox configuration " + (confWritten.empty() ? "dosbox.conf" : confWritten) +
                              " cannot be read");
  if (started) return true;

  // Still zipped: the mounts are kept for when it is unpacked, the missing
  // folders are not worth a line each.
  bool zipped = false;
  const std::string zip = finder.Find(
      exo, "eXoDOS\\" + (batch.empty() ? NamePart(gameFolder) : batch.substr(0, batch.size() - 4)) + ".zip", &zipped);
  if (zipped) {
    game.notCarried.erase(
        std::remove_if(game.notCarried.begin(), game.notCarried.end(),
                       [](const std::string& line) { return line.compare(0, 13, "mounted path ") == 0; }),
        game.notCarried.end());
    game.notCarried.push_back("not installed: its files are still in " + NamePart(zip));
  } else {
    game.notCarried.push_back("no program its configuration starts exists here");
  }
  return true;
}

ForeignLibrary ReadExoLibrary(const ForeignFiles& files, const std::string& path) {
  ForeignLibrary library;
  library.source = kExoSource;
  PathFinder finder(files);
  const std::string exo = ExoFolderOf(finder, path);
  if (exo.empty()) return library;
  const std::string dos = finder.Find(exo, "eXoDOS\\!dos");
  std::vector<std::string> folders;
  for (const FolderItem& item : finder.List(dos))
    if (item.folder) folders.push_back(item.name);
  std::sort(folders.begin(), folders.end());
  for (const std::string& folder : folders) {
    ForeignGame game;
    const std::string gameFolder = finder.Find(dos, folder);
    if (ReadExoGame(files, finder, exo, gameFolder, game))
      library.games.push_back(std::move(game));
    else
      library.broken.push_back({gameFolder, "neither a batch file nor a DOSBox configuration"});
  }
  return library;
}
