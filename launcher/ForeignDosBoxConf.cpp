#include "launcher/ForeignDosBoxConf.h"
#include "launcher/ForeignText.h"

#include <vector>

#include "launcher/ForeignAutoexec.h"
#include "launcher/ForeignIni.h"

namespace {

// Words as DOSBox splits a command: at blanks, double quotes holding blanks.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

bool EndsWithIgnoringCase(const std::string& text, const char* end) {
  const std::string tail(end);
  return text.size() >= tail.size() && SameTextIgnoringCase(text.substr(text.size() - tail.size()), tail);
}

}  // namespace

bool ReadMountCommand(const std::string& line, const std::string& base, PathFinder& finder, ForeignGame& game) {
  std::vector<std::string> words = Words(line);
  if (words.empty()) return false;
  std::string command = Lower(words[0]);
  if (!command.empty() && command[0] == '@') command.erase(0, 1);
  const bool image = command == "imgmount";
  if ((command != "mount" && !image) || words.size() < 3) return false;
  std::string letter = words[1];
  if (letter.size() == 2 && letter[1] == ':') letter.pop_back();
  if (letter.size() != 1 || words[2][0] == '-') return false;  // "mount -u c" and the like stay commands

  std::vector<std::string> paths;
  std::string type;
  for (std::size_t i = 2; i < words.size(); ++i) {
    if (words[i][0] != '-') {
      paths.push_back(words[i]);
    } else if (Lower(words[i]) == "-t" && i + 1 < words.size()) {
      type = Lower(words[++i]);
    } else {
      game.notCarried.push_back("mount option " + words[i] + " of drive " + letter);
      if (i + 1 < words.size() && words[i + 1][0] != '-' && !paths.empty()) ++i;  // its value
    }
  }
  if (paths.empty()) return false;
  ForeignMount mount;
  if (image) {
    const bool cd = type == "iso" || type == "cdrom" ||
                    (type.empty() && (EndsWithIgnoringCase(paths[0], ".iso") || EndsWithIgnoringCase(paths[0], ".cue")));
    mount.kind = cd ? ForeignMount::CDImage : type == "floppy" ? ForeignMount::FloppyImage : ForeignMount::DiskImage;
  } else {
    mount.kind = type == "cdrom" ? ForeignMount::CD : type == "floppy" ? ForeignMount::Floppy : ForeignMount::Folder;
  }
  const char l = letter[0];
  mount.letter = l >= 'a' && l <= 'z' ? static_cast<char>(l - 'a' + 'A') : l;
  for (std::size_t i = 1; i < paths.size(); ++i)
    game.notCarried.push_back("further image " + paths[i] + " of drive " + letter);
  bool found = false;
  mount.host = finder.Find(base, paths[0], &found);
  if (!found) game.notCarried.push_back("mounted path " + paths[0] + " does not exist");
  game.mounts.push_back(mount);
  return true;
}

namespace {

bool IsSettingsSection(const IniSection& section) {
  return !section.name.empty() && !SameTextIgnoringCase(section.name, "autoexec");
}

// Every setting of the configuration, in one array of the right size (an
// import reads thousands of them).
void AddSettings(const IniFile& ini, ForeignGame& game) {
  std::size_t count = game.settings.size();
  for (const IniSection& section : ini.sections)
    if (IsSettingsSection(section)) count += section.values.size();
  game.settings.reserve(count);
  for (const IniSection& section : ini.sections)
    if (IsSettingsSection(section))
      for (const auto& value : section.values) game.settings.push_back({section.name, value.first, value.second});
}

}  // namespace

void ReadDosBoxConf(const std::string& text, const std::string& base, PathFinder& finder, ForeignGame& game) {
  const IniFile ini = ParseIni(text);
  AddSettings(ini, game);
  for (const IniSection& section : ini.sections) {
    if (!SameTextIgnoringCase(section.name, "autoexec")) continue;
    std::vector<std::string> commands;
    for (const std::string& line : section.lines)
      if (!ReadMountCommand(line, base, finder, game)) commands.push_back(line);
    while (!commands.empty() && (Lower(commands.back()) == "exit" || commands.back().empty())) commands.pop_back();
    for (const std::string& command : commands) game.preCommands += command + "\r\n";
  }
}

bool ReadGameDosBoxConf(const std::string& text, const std::string& base, PathFinder& finder, ForeignGame& game) {
  const IniFile ini = ParseIni(text);
  AddSettings(ini, game);
  bool started = false;
  for (const IniSection& section : ini.sections)
    if (SameTextIgnoringCase(section.name, "autoexec")) started = ReadAutoexec(section.lines, base, finder, game) || started;
  return started;
}
