#include "launcher/ForeignDFend.h"
#include "launcher/ForeignText.h"

#include <algorithm>
#include <cstdlib>

#include "launcher/ForeignIni.h"

const char* const kDFendSource = "D-Fend Reloaded";

namespace {

bool EndsWithIgnoringCase(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && SameTextIgnoringCase(text.substr(text.size() - end.size()), end);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// The sections of a profile that hold no DOSBox settings.
bool IsFrontEndSection(const std::string& lowerName) {
  for (const char* name : {"", "extra", "extrainfo", "extracommands", "extragameidentify", "scummvm"})
    if (lowerName == name) return true;
  return false;
}

bool ReadMount(const std::string& line, const std::string& base, PathFinder& finder, ForeignGame& game) {
  const std::vector<std::string> fields = Split(line, ';');
  if (fields.size() < 3 || fields[2].size() != 1) return false;
  const std::string type = Lower(fields[1]);
  ForeignMount mount;
  if (type == "drive") mount.kind = ForeignMount::Folder;
  else if (type == "cdrom") mount.kind = ForeignMount::CD;
  else if (type == "floppy") mount.kind = ForeignMount::Floppy;
  else if (type == "floppyimage") mount.kind = ForeignMount::FloppyImage;
  else if (type == "cdromimage") mount.kind = ForeignMount::CDImage;
  else if (type == "image") mount.kind = ForeignMount::DiskImage;
  else return false;
  const char letter = fields[2][0];
  mount.letter = letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
  // Several images of one drive are joined by "$"; the drive takes the first.
  const std::vector<std::string> paths = Split(fields[0], '$');
  for (std::size_t i = 1; i < paths.size(); ++i)
    if (!paths[i].empty()) game.notCarried.push_back("further image " + paths[i] + " of drive " + fields[2]);
  mount.host = finder.FindNoting(base, paths[0], game.notCarried, "mounted path");
  game.mounts.push_back(mount);
  return true;
}

std::string EnvironmentCommands(const std::string& environment) {
  std::string commands;
  for (std::string line : Split(DFendUnescaped(environment), '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find('=') != std::string::npos) commands += "SET " + line + "\r\n";
  }
  return commands;
}

}  // namespace

std::string DFendUnescaped(const std::string& text) {
  std::string plain;
  plain.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 4, "[13]") == 0) plain += '\r';
    else if (text.compare(i, 4, "[10]") == 0) plain += '\n';
    else if (text.compare(i, 4, "[61]") == 0) plain += '=';
    else {
      plain += text[i];
      continue;
    }
    i += 3;
  }
  return plain;
}

bool ReadDFendProfile(const std::string& text, const std::string& base, PathFinder& finder, ForeignGame& game,
                      std::string& reason) {
  if (text.find('\0') != std::string::npos) {
    reason = "not a text file";
    return false;
  }
  const IniFile ini = ParseIni(text);
  if (!ini.Find("Extra") && !ini.Find("ExtraInfo")) {
    reason = "no [Extra] or [ExtraInfo] section";
    return false;
  }
  const std::string mode = ini.Value("Extra", "ProfileMode");
  if (!mode.empty() && !SameTextIgnoringCase(mode, "DOSBox")) {
    reason = "a " + mode + " profile, not one for DOSBox";
    return false;
  }
  auto value = [&ini](const char* section, const char* key) { return DFendUnescaped(ini.Value(section, key)); };

  game.source = kDFendSource;
  game.name = value("ExtraInfo", "Name");
  game.genre = value("ExtraInfo", "Genre");
  game.developer = value("ExtraInfo", "Developer");
  game.publisher = value("ExtraInfo", "Publisher");
  game.year = value("ExtraInfo", "Year");
  game.notes = value("ExtraInfo", "Notes");
  game.favorite = value("ExtraInfo", "Favorite") == "1" || SameTextIgnoringCase(value("ExtraInfo", "Favorite"), "true");

  // Mounts first: the programs' DOS paths are found through them.
  const int mounts = std::atoi(ini.Value("Extra", "NrOfMounts").c_str());
  for (int i = 0; i < mounts && i < 10; ++i) {
    const std::string line = value("Extra", std::to_string(i).c_str());
    if (!line.empty() && !ReadMount(line, base, finder, game)) game.notCarried.push_back("mount " + line);
  }
  if (!value("Extra", "Exe").empty()) game.program = finder.FindNoting(base, value("Extra", "Exe"), game.notCarried, "program");
  game.parameters = value("Extra", "GameParameters");
  if (!value("Extra", "Setup").empty())
    game.installer = finder.FindNoting(base, value("Extra", "Setup"), game.notCarried, "installer");
  game.installerParameters = value("Extra", "SetupParameters");
  game.preCommands = EnvironmentCommands(ini.Value("Extra", "Environment")) + value("Extra", "autoexec");
  if (!game.preCommands.empty() && game.preCommands.back() != '\n') game.preCommands += "\r\n";

  for (int i = 0; i < 50; ++i) {
    const std::string extra = value("Extra", ("ExtraExe" + std::to_string(i)).c_str());
    if (!extra.empty()) game.notCarried.push_back("further program " + extra);
  }
  for (const char* key : {"BeforeExecution", "AfterExecution"})
    if (!value("ExtraCommands", key).empty())
      game.notCarried.push_back(std::string("Windows command ") + key + ": " + value("ExtraCommands", key));

  std::size_t settings = 0;
  for (const IniSection& section : ini.sections) settings += section.values.size();
  game.settings.reserve(settings);
  for (const IniSection& section : ini.sections) {
    const std::string lower = Lower(section.name);
    if (IsFrontEndSection(lower)) continue;
    for (const auto& setting : section.values) {
      // Which DOSBox to use and where it saves captures are the front end's
      // own choices, not settings of the game.
      if (lower == "dosbox" && SameTextIgnoringCase(setting.first, "DOSBoxDirectory")) {
        if (!SameTextIgnoringCase(setting.second, "Default")) game.engine = setting.second;
        continue;
      }
      if (lower == "dosbox" && SameTextIgnoringCase(setting.first, "captures")) continue;
      game.settings.push_back({section.name, setting.first, DFendUnescaped(setting.second)});
    }
  }
  return true;
}

bool IsDFendFolder(PathFinder& finder, const std::string& folder) {
  for (const FolderItem& item : finder.List(folder))
    if (SameTextIgnoringCase(item.name, "DFend.dat") || (item.folder && SameTextIgnoringCase(item.name, "Confs"))) {
      if (!item.folder) return true;
      for (const FolderItem& conf : finder.List(finder.Find(folder, item.name)))
        if (EndsWithIgnoringCase(conf.name, ".prof")) return true;
    }
  return false;
}

ForeignLibrary ReadDFendLibrary(const ForeignFiles& files, const std::string& folder) {
  ForeignLibrary library;
  library.source = kDFendSource;
  PathFinder finder(files);

  // The user's mode keeps the data under the user's folder, not beside the
  // program.
  std::string data = folder;
  bool found = false;
  const std::string mark = finder.Find(folder, "DFend.dat", &found);
  std::string mode;
  if (found && files.read(mark, mode) && Lower(mode).find("userdirmode") != std::string::npos) {
    for (const char* variable : {"APPDATA", "USERPROFILE"}) {
      const char* home = std::getenv(variable);
      if (!home) continue;
      bool exists = false;
      const std::string candidate = finder.Find(home, "D-Fend Reloaded\\Confs", &exists);
      if (exists) {
        data = FolderPart(candidate);
        break;
      }
    }
  }

  std::string base = data;
  std::string settings;
  const std::string ini = finder.Find(data, "Settings\\DFend.ini", &found);
  if (found && files.read(ini, settings)) {
    const std::string location = ParseIni(TextAsUtf8(settings)).Value("ProgramSets", "DefLoc");
    bool exists = false;
    const std::string defLoc = location.empty() ? std::string() : finder.Find(data, location, &exists);
    if (exists && finder.IsFolder(defLoc)) base = defLoc;
  }

  const std::string confs = finder.Find(data, "Confs", &found);
  if (!found) {
    library.broken.push_back({data, "no Confs folder"});
    return library;
  }
  std::vector<std::string> names;
  for (const FolderItem& item : finder.List(confs))
    if (!item.folder && EndsWithIgnoringCase(item.name, ".prof")) names.push_back(item.name);
  std::sort(names.begin(), names.end());
  library.games.reserve(names.size());
  std::string bytes;  // one buffer for every profile: thousands of them
  for (const std::string& name : names) {
    const std::string path = finder.Find(confs, name);
    std::string reason;
    ForeignGame game;
    game.file = path;
    if (!files.read(path, bytes)) {
      library.broken.push_back({path, "cannot be read"});
      continue;
    }
    MakeTextUtf8(bytes);
    if (!ReadDFendProfile(bytes, base, finder, game, reason)) {
      library.broken.push_back({path, reason});
      continue;
    }
    if (game.name.empty()) game.name = name.substr(0, name.size() - 5);
    library.games.push_back(std::move(game));
  }
  return library;
}
