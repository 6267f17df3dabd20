#include "launcher/ForeignDbgl.h"
#include "launcher/ForeignText.h"

#include <algorithm>
#include <cstdlib>

#include "launcher/ForeignDosBoxConf.h"
#include "launcher/ForeignZip.h"
#include "text/TextConvert.h"
#include "xml/FileNames.h"
#include "xml/Xml.h"

const char* const kDbglSource = "DBGL";

namespace {

constexpr std::uint64_t kMaxListBytes = 64ull << 20;

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool EndsWithIgnoringCase(const std::string& text, const char* end) {
  const std::string tail(end);
  return text.size() >= tail.size() && SameTextIgnoringCase(text.substr(text.size() - tail.size()), tail);
}

bool StartsWith(const std::string& text, const char* start) {
  return text.compare(0, std::char_traits<char>::length(start), start) == 0;
}

bool IsTrueWord(const std::string& value) {
  const std::string v = Upper(Trimmed(value));
  return v == "TRUE" || v == "1" || v == "YES";
}

// ---- The database script: CREATE TABLE and INSERT INTO lines. ----

struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
};

std::string TableName(const std::string& written) {
  std::string name = written;
  name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
  const std::size_t dot = name.rfind('.');
  return Upper(dot == std::string::npos ? name : name.substr(dot + 1));
}

// The pieces between the outer parentheses that start at open, split at
// commas outside quotes and inner parentheses. Quoted strings are returned
// without their quotes, '' and \uXXXX decoded; quoted marks whether a piece was.
std::vector<std::string> Pieces(const std::string& line, std::size_t open, std::vector<bool>* quoted = nullptr) {
  std::vector<std::string> pieces;
  std::string piece;
  bool wasQuoted = false;
  int depth = 0;
  for (std::size_t i = open + 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\'') {
      wasQuoted = true;
      for (++i; i < line.size(); ++i) {
        if (line[i] == '\'') {
          if (i + 1 < line.size() && line[i + 1] == '\'') {
            piece += '\'';
            ++i;
            continue;
          }
          break;
        }
        if (line[i] == '\\' && i + 5 < line.size() && line[i + 1] == 'u') {
          const std::wstring wide(1, static_cast<wchar_t>(std::strtoul(line.substr(i + 2, 4).c_str(), nullptr, 16)));
          piece += Utf8FromWide(wide);
          i += 5;
          continue;
        }
        piece += line[i];
      }
    } else if (c == '(') {
      ++depth;
      piece += c;
    } else if ((c == ',' && depth == 0) || (c == ')' && depth == 0)) {
      pieces.push_back(wasQuoted ? piece : Trimmed(piece));
      if (quoted) quoted->push_back(wasQuoted);
      piece.clear();
      wasQuoted = false;
      if (c == ')') break;
    } else {
      if (c == ')') --depth;
      piece += c;
    }
  }
  return pieces;
}

std::map<std::string, Table> ReadTables(const std::string& text) {
  std::map<std::string, Table> tables;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trimmed(text.substr(start, end - start));
    start = end + 1;
    const std::string upper = Upper(line.substr(0, std::min<std::size_t>(line.size(), 200)));
    const std::size_t open = line.find('(');
    if (open == std::string::npos) continue;
    if (StartsWith(upper, "CREATE ") && upper.find(" TABLE ") != std::string::npos) {
      const std::size_t at = upper.find(" TABLE ") + 7;
      Table& table = tables[TableName(Trimmed(line.substr(at, open - at)))];
      table.columns.clear();
      for (const std::string& piece : Pieces(line, open)) {
        std::string name = Upper(piece.substr(0, piece.find_first_of(" \t")));
        name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
        if (name != "CONSTRAINT" && name != "PRIMARY" && name != "UNIQUE" && name != "FOREIGN" && name != "CHECK")
          table.columns.push_back(name);
      }
    } else if (StartsWith(upper, "INSERT INTO ")) {
      const std::size_t values = upper.find(" VALUES");
      if (values == std::string::npos || values < 12) continue;
      const std::size_t rowOpen = line.find('(', values);
      if (rowOpen == std::string::npos) continue;
      std::vector<bool> quoted;
      std::vector<std::string> row = Pieces(line, rowOpen, &quoted);
      for (std::size_t i = 0; i < row.size(); ++i)
        if (!quoted[i] && Upper(row[i]) == "NULL") row[i].clear();
      tables[TableName(Trimmed(line.substr(12, values - 12)))].rows.push_back(row);
    }
  }
  return tables;
}

// One row, read by column name.
struct Row {
  const Table* table;
  const std::vector<std::string>* values;

  // The value of the first column whose name is one of names; "" when none.
  std::string Get(std::initializer_list<const char*> names) const {
    for (const char* name : names)
      for (std::size_t i = 0; i < table->columns.size() && i < values->size(); ++i)
        if (table->columns[i] == name) return (*values)[i];
    return std::string();
  }
  // The first column whose name starts with stem, or -1.
  int StartingWith(const char* stem) const {
    for (std::size_t i = 0; i < table->columns.size() && i < values->size(); ++i)
      if (StartsWith(table->columns[i], stem)) return static_cast<int>(i);
    return -1;
  }
};

// A fact kept in a table of its own (DEV_ID naming a row of DEVELOPERS) or
// in the game's row itself: the texts of the row it names, joined by a blank,
// or the value itself.
std::string Fact(const std::map<std::string, Table>& tables, const Row& game, const char* columnStem,
                 const char* tableStem) {
  const int column = game.StartingWith(columnStem);
  if (column < 0) return std::string();
  const std::string& value = (*game.values)[static_cast<std::size_t>(column)];
  if (!EndsWithIgnoringCase(game.table->columns[static_cast<std::size_t>(column)], "_ID")) return value;
  for (const auto& named : tables) {
    if (!StartsWith(named.first, tableStem) || named.first == "GAMES") continue;
    for (const std::vector<std::string>& row : named.second.rows) {
      if (row.empty() || row[0] != value) continue;
      std::string text;
      for (std::size_t i = 1; i < row.size() && i < named.second.columns.size(); ++i)
        if (!row[i].empty() && !EndsWithIgnoringCase(named.second.columns[i], "ID") &&
            !std::all_of(row[i].begin(), row[i].end(), [](char c) { return c >= '0' && c <= '9'; }) &&
            Upper(row[i]) != "TRUE" && Upper(row[i]) != "FALSE")
          text += (text.empty() ? "" : " ") + row[i];
      return text;
    }
  }
  return std::string();
}

// ---- Games. ----

std::string ChildText(XmlElement* element, const char* path) {
  std::string rest = path;
  while (element && !rest.empty()) {
    const std::size_t slash = rest.find('/');
    element = element->FindChild(rest.substr(0, slash).c_str());
    rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
  }
  if (!element) return std::string();
  std::string text = element->GetText();
  if (Trimmed(text).empty() && element->GetCDataCount() > 0) text = element->GetCDatas()[0]->GetText();
  return Trimmed(text);
}

// The setup and alternative programs, found from dosroot.
void ReadPrograms(const DbglFacts& facts, const std::string& dosroot, PathFinder& finder, ForeignGame& game) {
  if (!facts.setup.empty()) game.installer = finder.FindNoting(dosroot, facts.setup, game.notCarried, "installer");
  game.installerParameters = facts.setupParameters;
  for (const auto& alternative : facts.alternatives)
    if (!alternative.first.empty())
      game.notCarried.push_back("further program " + alternative.first +
                                (alternative.second.empty() ? "" : " " + alternative.second));
}

void TakeFacts(const DbglFacts& facts, ForeignGame& game) {
  game.name = facts.title;
  game.developer = facts.developer;
  game.publisher = facts.publisher;
  game.genre = facts.genre;
  game.year = facts.year;
  game.notes = facts.notes;
  game.favorite = facts.favorite;
  game.playCount = facts.runs;
  game.lastPlayed = facts.lastRun.substr(0, std::min<std::size_t>(facts.lastRun.size(), 19));
  game.engine = facts.dosbox;
  if (!facts.status.empty()) game.notCarried.push_back("status " + facts.status);
}

bool IsDbglFolder(PathFinder& finder, const std::string& folder) {
  bool profiles = false, beside = false;
  for (const FolderItem& item : finder.List(folder)) {
    if (!item.folder) continue;
    if (SameTextIgnoringCase(item.name, "profiles")) profiles = true;
    if (SameTextIgnoringCase(item.name, "dosroot") || SameTextIgnoringCase(item.name, "db")) beside = true;
  }
  if (!profiles || !beside) return false;
  for (const FolderItem& item : finder.List(finder.Find(folder, "profiles")))
    if (!item.folder && EndsWithIgnoringCase(item.name, ".conf")) return true;
  return false;
}

bool IsDbglPack(const std::string& path) { return EndsWithIgnoringCase(path, ".dbgl.zip"); }

void ReadDbglFolder(const ForeignFiles& files, PathFinder& finder, const std::string& folder, ForeignLibrary& library) {
  bool found = false;
  std::string dosroot = finder.Find(folder, "dosroot", &found);
  if (!found) dosroot = folder;
  std::map<std::string, DbglFacts> facts;
  const std::string db = finder.Find(folder, "db");
  for (const FolderItem& item : finder.List(db)) {
    std::string bytes;
    if (item.folder || !EndsWithIgnoringCase(item.name, ".script")) continue;
    if (files.read(finder.Find(db, item.name), bytes)) facts = ReadDbglScript(TextAsUtf8(bytes));
    if (!facts.empty()) break;
  }

  const std::string profiles = finder.Find(folder, "profiles");
  std::vector<std::string> names;
  for (const FolderItem& item : finder.List(profiles))
    if (!item.folder && EndsWithIgnoringCase(item.name, ".conf")) names.push_back(item.name);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = finder.Find(profiles, name);
    std::string bytes;
    if (!files.read(path, bytes)) {
      library.broken.push_back({path, "cannot be read"});
      continue;
    }
    if (bytes.find('\0') != std::string::npos || bytes.find('[') == std::string::npos) {
      library.broken.push_back({path, "not a DOSBox configuration"});
      continue;
    }
    ForeignGame game;
    game.source = kDbglSource;
    game.file = path;
    const std::string id = name.substr(0, name.size() - 5);
    const auto known = facts.find(id);
    if (known != facts.end()) TakeFacts(known->second, game);
    if (game.name.empty()) game.name = id;
    if (!ReadGameDosBoxConf(TextAsUtf8(bytes), dosroot, finder, game))
      game.notCarried.push_back("no program its [autoexec] starts exists here");
    if (known != facts.end()) ReadPrograms(known->second, dosroot, finder, game);
    library.games.push_back(std::move(game));
  }
}

// The game folders a pack's profiles.xml names, as the pack's entries start.
std::vector<std::string> PackGameFolders(XmlElement* document) {
  std::vector<std::string> folders;
  for (unsigned i = 0; document && i < document->GetChildCount(); ++i) {
    XmlElement* profile = document->GetChildren()[i];
    if (profile->GetName() != "profile") continue;
    std::string folder = ChildText(profile, "game-dir/raw");
    std::replace(folder.begin(), folder.end(), '\\', '/');
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    if (!folder.empty() && folder != ".") folders.push_back(folder + "/");
  }
  return folders;
}

void ReadDbglPack(PathFinder& finder, const std::string& path, ForeignLibrary& library) {
  ForeignZip zip(path);
  std::string bytes;
  if (!zip.IsOpen()) {
    library.broken.push_back({path, "not a zip archive"});
    return;
  }
  if (!zip.Read("profiles.xml", kMaxListBytes, bytes)) {
    library.broken.push_back({path, "no readable profiles.xml"});
    return;
  }
  const std::string text = TextAsUtf8(bytes);
  std::string name = NamePart(path);
  name.resize(name.size() - 9);  // ".dbgl.zip"
  const std::string dosroot = FolderPart(path) + PathSeparator() + name;

  // The games' files, unpacked where the pack's games will look for them,
  // unless they are there already.
  XmlDocument document;
  document.ParseText(text.c_str());
  for (const std::string& folder : PackGameFolders(document.GetRoot())) {
    std::string host = folder.substr(0, folder.size() - 1);
    std::replace(host.begin(), host.end(), '/', PathSeparator());
    const bool packed = std::any_of(zip.Names().begin(), zip.Names().end(), [&folder](const std::string& entry) {
      return entry.size() > folder.size() && SameTextIgnoringCase(entry.substr(0, folder.size()), folder);
    });
    std::string error;
    if (packed && !PathExistsUtf8(dosroot + PathSeparator() + host) &&
        !zip.Extract(folder, dosroot + PathSeparator() + host, error))
      library.broken.push_back({path, "the files of " + folder + " cannot be unpacked: " + error});
  }
  ReadDbglProfilesXml(text, path, dosroot, finder, library);
}

}  // namespace

std::map<std::string, DbglFacts> ReadDbglScript(const std::string& text) {
  std::map<std::string, DbglFacts> games;
  const std::map<std::string, Table> tables = ReadTables(text);
  const auto found = tables.find("GAMES");
  if (found == tables.end()) return games;
  for (const std::vector<std::string>& values : found->second.rows) {
    const Row row{&found->second, &values};
    const std::string id = row.Get({"ID"});
    if (id.empty()) continue;
    DbglFacts& facts = games[id];
    facts.title = row.Get({"TITLE", "NAME"});
    facts.notes = row.Get({"NOTES"});
    facts.favorite = IsTrueWord(row.Get({"FAVORITE"}));
    facts.setup = row.Get({"SETUP"});
    facts.setupParameters = row.Get({"SETUP_PARAMS", "SETUP_PARAMETERS", "SETUPPARAMS"});
    for (const char* alt : {"ALT1", "ALT2"})
      facts.alternatives.push_back({row.Get({alt}), row.Get({(std::string(alt) + "_PARAMS").c_str()})});
    facts.developer = Fact(tables, row, "DEV", "DEV");
    facts.publisher = Fact(tables, row, "PUBL", "PUBL");
    facts.genre = Fact(tables, row, "GENRE", "GENRE");
    facts.year = Fact(tables, row, "YEAR", "YEAR");
    facts.status = Fact(tables, row, "STAT_ID", "STATUS");
    facts.dosbox = Fact(tables, row, "DBVERSION", "DOSBOXVERSION");
    facts.runs = std::atoll(row.Get({"STATS_RUNS", "RUNS"}).c_str());
    facts.lastRun = row.Get({"STATS_LASTRUN", "LASTRUN"});
  }
  return games;
}

void ReadDbglProfilesXml(const std::string& text, const std::string& file, const std::string& dosroot,
                         PathFinder& finder, ForeignLibrary& library) {
  XmlDocument document;
  document.ParseText(text.c_str());
  XmlElement* root = document.GetRoot();
  if (document.GetParseStatus() != 0 || !root || root->GetName() != "document") {
    library.broken.push_back({file, "its profiles.xml is no DBGL game list"});
    return;
  }
  for (unsigned i = 0; i < root->GetChildCount(); ++i) {
    XmlElement* profile = root->GetChildren()[i];
    if (profile->GetName() != "profile") continue;
    DbglFacts facts;
    facts.title = ChildText(profile, "title");
    facts.developer = ChildText(profile, "meta-info/developer");
    facts.publisher = ChildText(profile, "meta-info/publisher");
    facts.genre = ChildText(profile, "meta-info/genre");
    facts.year = ChildText(profile, "meta-info/year");
    facts.status = ChildText(profile, "meta-info/status");
    facts.notes = ChildText(profile, "meta-info/notes");
    facts.favorite = IsTrueWord(ChildText(profile, "meta-info/favorite"));
    facts.setup = ChildText(profile, "setup");
    facts.setupParameters = ChildText(profile, "setup-parameters");
    for (const char* alt : {"altexe1", "altexe2"})
      facts.alternatives.push_back(
          {ChildText(profile, alt), ChildText(profile, (std::string(alt) + "-parameters").c_str())});
    const std::string engine = ChildText(profile, "dosbox/title") + " " + ChildText(profile, "dosbox/version");
    facts.dosbox = Trimmed(engine);

    const std::string configuration = ChildText(profile, "full-configuration");
    if (facts.title.empty() || configuration.empty()) {
      library.broken.push_back({file, "profile " + ChildText(profile, "id") + " has no " +
                                          (facts.title.empty() ? "title" : "configuration")});
      continue;
    }
    ForeignGame game;
    game.source = kDbglSource;
    game.file = file;
    TakeFacts(facts, game);
    if (!ReadGameDosBoxConf(configuration, dosroot, finder, game))
      game.notCarried.push_back("no program its [autoexec] starts exists here");
    ReadPrograms(facts, dosroot, finder, game);
    library.games.push_back(std::move(game));
  }
}

std::vector<std::string> DbglLibrariesIn(PathFinder& finder, const std::string& path) {
  if (IsDbglPack(path)) return {path};
  if (IsDbglFolder(finder, path)) return {path};
  std::vector<std::string> found;
  // Only folders named after the program are looked into: a folder of
  // thousands of game folders is not listed twice over to find none.
  for (const FolderItem& item : finder.List(path)) {
    if (item.folder && Upper(item.name).find("DBGL") == std::string::npos) continue;
    const std::string inside = finder.Find(path, item.name);
    if (item.folder ? IsDbglFolder(finder, inside) : IsDbglPack(item.name)) found.push_back(inside);
  }
  std::sort(found.begin(), found.end());
  return found;
}

ForeignLibrary ReadDbglLibrary(const ForeignFiles& files, const std::string& path) {
  ForeignLibrary library;
  library.source = kDbglSource;
  PathFinder finder(files);
  for (const std::string& found : DbglLibrariesIn(finder, path)) {
    if (IsDbglPack(found))
      ReadDbglPack(finder, found, library);
    else
      ReadDbglFolder(files, finder, found, library);
  }
  return library;
}
