#include "launcher/ForeignLaunchBox.h"
#include "launcher/ForeignText.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

#include "launcher/ForeignDosBoxConf.h"
#include "launcher/ForeignExo.h"
#include "xml/Xml.h"

const char* const kLaunchBoxSource = "LaunchBox";

namespace {

bool EndsWithIgnoringCase(const std::string& text, const char* end) {
  const std::string tail(end);
  return text.size() >= tail.size() && SameTextIgnoringCase(text.substr(text.size() - tail.size()), tail);
}

std::string Field(XmlElement* game, const char* name) {
  XmlElement* field = game->FindChild(name);
  if (!field) return std::string();
  std::string text = field->GetText();
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool IsDosGame(XmlElement* game) {
  const std::string platform = Field(game, "Platform");
  return SameTextIgnoringCase(platform, "MS-DOS") || SameTextIgnoringCase(platform, "DOS") ||
         SameTextIgnoringCase(Field(game, "UseDosBox"), "true");
}

// The emulators of Data\Emulators.xml by their ID: each one's title, or
// its program when it has none, as the name of the DOSBox it is.
std::map<std::string, std::string> ReadEmulators(const ForeignFiles& files, PathFinder& finder,
                                                 const std::string& launchBox) {
  std::map<std::string, std::string> emulators;
  bool found = false;
  std::string bytes;
  const std::string path = finder.Find(launchBox, "Data\\Emulators.xml", &found);
  if (!found || !files.read(path, bytes)) return emulators;
  XmlDocument document;
  document.ParseText(TextAsUtf8(bytes).c_str());
  XmlElement* root = document.GetRoot();
  for (unsigned i = 0; root && document.GetParseStatus() == 0 && i < root->GetChildCount(); ++i) {
    XmlElement* emulator = root->GetChildren()[i];
    if (emulator->GetName() != "Emulator" || Field(emulator, "ID").empty()) continue;
    const std::string title = Field(emulator, "Title");
    emulators[Field(emulator, "ID")] = title.empty() ? Field(emulator, "ApplicationPath") : title;
  }
  return emulators;
}

void ReadGame(XmlElement* element, const std::string& launchBox, PathFinder& finder, const ForeignFiles& files,
              const std::map<std::string, std::string>* emulators, ForeignGame& game) {
  game.name = Field(element, "Title");
  game.genre = Field(element, "Genre");
  game.developer = Field(element, "Developer");
  game.publisher = Field(element, "Publisher");
  const std::string released = Field(element, "ReleaseDate");
  if (released.size() >= 4 && std::all_of(released.begin(), released.begin() + 4, [](char c) { return c >= '0' && c <= '9'; }))
    game.year = released.substr(0, 4);
  game.notes = Field(element, "Notes");
  game.favorite = SameTextIgnoringCase(Field(element, "Favorite"), "true");
  game.playCount = std::atoll(Field(element, "PlayCount").c_str());
  game.playTime = std::atoll(Field(element, "PlayTime").c_str());
  // LaunchBox writes ISO 8601 ("2019-04-02T21:52:31.12-05:00"); the library
  // keeps "YYYY-MM-DD hh:mm:ss" as the launcher records it. The zone is
  // dropped: a day and an hour are what the user looks for.
  game.lastPlayed = Field(element, "LastPlayedDate");
  if (game.lastPlayed.size() >= 19 && game.lastPlayed[10] == 'T') {
    game.lastPlayed.resize(19);
    game.lastPlayed[10] = ' ';
  }

  // An eXoDOS game starts through a Windows batch file in its !dos folder;
  // that folder says what DOSBox mounts and runs.
  const std::string application = Field(element, "ApplicationPath");
  if (EndsWithIgnoringCase(application, ".bat")) {
    bool found = false;
    const std::string batch = finder.Find(launchBox, application, &found);
    const std::string folder = FolderPart(batch);
    if (found && SameTextIgnoringCase(NamePart(FolderPart(folder)), "!dos") &&
        ReadExoGame(files, finder, FolderPart(FolderPart(FolderPart(folder))), folder, game))
      return;
  }

  // The DOSBox it runs on: a build of its own, or an emulator of the list.
  game.engine = Field(element, "CustomDosBoxVersionPath");
  if (game.engine.empty() && emulators) {
    const auto emulator = emulators->find(Field(element, "Emulator"));
    if (emulator != emulators->end()) game.engine = emulator->second;
  }
  const std::string conf = Field(element, "DosBoxConfigurationPath");
  if (!conf.empty()) {
    bool found = false;
    std::string bytes;
    const std::string path = finder.Find(launchBox, conf, &found);
    if (found && files.read(path, bytes)) ReadDosBoxConf(TextAsUtf8(bytes), launchBox, finder, game);
    else game.notCarried.push_back("DOSBox configuration " + conf + " cannot be read");
  }
  // The game's root folder is its drive C unless its configuration mounts
  // one.
  const std::string root = Field(element, "RootFolder");
  const bool hasC = std::any_of(game.mounts.begin(), game.mounts.end(), [](const ForeignMount& m) { return m.letter == 'C'; });
  if (!root.empty() && !hasC) {
    ForeignMount mount;
    mount.host = finder.FindNoting(launchBox, root, game.notCarried, "root folder");
    game.mounts.insert(game.mounts.begin(), mount);
  }
  if (!application.empty()) game.program = finder.FindNoting(launchBox, application, game.notCarried, "program");
  game.parameters = Field(element, "CommandLine");
}

// A game's additional applications: the first one named as a setup or
// install program becomes its installer, unless it is a Windows batch file
// (as eXoDOS's install.bat, which unpacks the game); the others are named
// as left behind.
void ReadAdditionalApplications(const std::vector<XmlElement*>& applications, const std::string& launchBox,
                                PathFinder& finder, ForeignGame& game) {
  for (XmlElement* application : applications) {
    const std::string name = Field(application, "Name");
    const std::string path = Field(application, "ApplicationPath");
    const std::string lower = Lower(name);
    const bool setup = lower.find("setup") != std::string::npos || lower.find("install") != std::string::npos;
    if (setup && game.installer.empty() && !path.empty() && !EndsWithIgnoringCase(path, ".bat")) {
      game.installer = finder.FindNoting(launchBox, path, game.notCarried, "installer");
      game.installerParameters = Field(application, "CommandLine");
    } else {
      game.notCarried.push_back("additional application " + name + (path.empty() ? "" : " (" + path + ")"));
    }
  }
}

}  // namespace

void ReadLaunchBoxPlatform(const std::string& text, const std::string& file, const std::string& launchBox,
                           PathFinder& finder, const ForeignFiles& files, ForeignLibrary& library,
                           const std::map<std::string, std::string>* emulators) {
  XmlDocument document;
  document.ParseText(text.c_str());
  XmlElement* root = document.GetRoot();
  if (document.GetParseStatus() != 0 || !root || root->GetName() != "LaunchBox") {
    library.broken.push_back({file, "not a LaunchBox platform file"});
    return;
  }
  std::map<std::string, std::vector<XmlElement*>> additional;
  for (unsigned i = 0; i < root->GetChildCount(); ++i)
    if (root->GetChildren()[i]->GetName() == "AdditionalApplication")
      additional[Field(root->GetChildren()[i], "GameID")].push_back(root->GetChildren()[i]);
  for (unsigned i = 0; i < root->GetChildCount(); ++i) {
    XmlElement* element = root->GetChildren()[i];
    if (element->GetName() != "Game" || !IsDosGame(element)) continue;
    ForeignGame game;
    game.source = kLaunchBoxSource;
    game.file = file;
    ReadGame(element, launchBox, finder, files, emulators, game);
    const auto applications = additional.find(Field(element, "ID"));
    if (applications != additional.end()) ReadAdditionalApplications(applications->second, launchBox, finder, game);
    if (game.name.empty()) {
      library.broken.push_back({file, "a game without a title (" + Field(element, "ID") + ")"});
      continue;
    }
    library.games.push_back(std::move(game));
  }
}

std::string LaunchBoxFolderOf(PathFinder& finder, const std::string& path) {
  bool found = false;
  if (EndsWithIgnoringCase(path, ".xml")) {
    const std::string platforms = FolderPart(path);
    if (SameTextIgnoringCase(NamePart(platforms), "Platforms") &&
        SameTextIgnoringCase(NamePart(FolderPart(platforms)), "Data"))
      return FolderPart(FolderPart(platforms));
    return std::string();
  }
  if (SameTextIgnoringCase(NamePart(path), "Platforms") && SameTextIgnoringCase(NamePart(FolderPart(path)), "Data"))
    return FolderPart(FolderPart(path));
  finder.Find(path, "Data\\Platforms", &found);
  return found ? path : std::string();
}

ForeignLibrary ReadLaunchBoxLibrary(const ForeignFiles& files, const std::string& path) {
  ForeignLibrary library;
  library.source = kLaunchBoxSource;
  PathFinder finder(files);
  const std::string launchBox = LaunchBoxFolderOf(finder, path);
  std::vector<std::string> platformFiles;
  if (EndsWithIgnoringCase(path, ".xml")) {
    platformFiles.push_back(path);
  } else {
    const std::string platforms = finder.Find(launchBox, "Data\\Platforms");
    for (const FolderItem& item : finder.List(platforms))
      if (!item.folder && EndsWithIgnoringCase(item.name, ".xml")) platformFiles.push_back(finder.Find(platforms, item.name));
    std::sort(platformFiles.begin(), platformFiles.end());
  }
  const std::map<std::string, std::string> emulators = ReadEmulators(files, finder, launchBox);
  for (const std::string& file : platformFiles) {
    std::string bytes;
    if (!files.read(file, bytes)) {
      library.broken.push_back({file, "cannot be read"});
      continue;
    }
    ReadLaunchBoxPlatform(TextAsUtf8(bytes), file, launchBox, finder, files, library, &emulators);
  }
  return library;
}
