#include "launcher/ForeignImport.h"

#include <algorithm>
#include <set>

#include "launcher/ForeignDFend.h"
#include "launcher/ForeignDbgl.h"
#include "launcher/ForeignEngine.h"
#include "launcher/ForeignExo.h"
#include "launcher/ForeignLaunchBox.h"
#include "launcher/GameSchema.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// One spelling for comparing paths: upper case, one kind of separator.
std::string PathKey(const std::string& path) {
  std::string key = Upper(path);
  for (char& c : key)
    if (c == '/') c = '\\';
  return key;
}

// The host path of DOS path program through the first folder mount of its
// drive, as the launch finds it; "" when there is none.
std::string HostOfDosPath(XmlElement* game, const std::string& program) {
  if (program.size() < 3 || program[1] != ':') return std::string();
  XmlElement* mounts = game->FindChild("Mount");
  for (unsigned i = 0; mounts && i < mounts->GetChildCount(); ++i) {
    XmlElement* mount = mounts->GetChildren()[i];
    const std::string remote = AttributeText(mount, "remote");
    if (remote.empty() || Upper(remote.substr(0, 1)) != Upper(program.substr(0, 1))) continue;
    if (AttributeText(mount, "iso") == "yes" || AttributeText(mount, "type").empty()) return std::string();
    std::string folder = Unquoted(AttributeText(mount, "local"));
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    std::string rest = program.substr(2);
    if (!rest.empty() && rest[0] == '\\') rest.erase(0, 1);
    return folder + "\\" + rest;
  }
  return std::string();
}

// A game without a program or installer (one still zipped) is known by its
// name and the folder of its first mount.
std::string ProgramlessKey(const std::string& name, const std::string& firstMount) {
  return name + "\n" + firstMount;
}

}  // namespace

const char* ForeignLibraryKind(const ForeignFiles& files, const std::string& path) {
  PathFinder finder(files);
  if (!LaunchBoxFolderOf(finder, path).empty()) return kLaunchBoxSource;
  if (!ExoFolderOf(finder, path).empty()) return kExoSource;
  if (IsDFendFolder(finder, path)) return kDFendSource;
  if (!DbglLibrariesIn(finder, path).empty()) return kDbglSource;
  return nullptr;
}

std::vector<std::string> LibraryProgramPaths(const XmlDocument& library) {
  std::vector<std::string> paths;
  XmlElement* games = GamesOf(library);
  for (unsigned i = 0; games && i < games->GetChildCount(); ++i) {
    XmlElement* game = games->GetChildren()[i];
    XmlElement* main = game->FindChild("Main");
    if (main && AttributeText(main, "Run").empty() && AttributeText(main, "Install").empty()) {
      XmlElement* mounts = game->FindChild("Mount");
      if (mounts && mounts->GetChildCount() > 0)
        paths.push_back(ProgramlessKey(AttributeText(main, "Name"),
                                       Unquoted(AttributeText(mounts->GetChildren()[0], "local"))));
      continue;
    }
    for (const char* attribute : {"Run", "Install"}) {
      const XmlAttribute* stored = main ? main->FindAttribute(attribute) : nullptr;
      const std::string program = stored ? stored->GetValue() : std::string();
      if (program.empty()) continue;
      paths.push_back(program);
      const std::string host = HostOfDosPath(game, program);
      if (!host.empty()) paths.push_back(host);
    }
  }
  return paths;
}

ForeignReview ReviewForeignLibrary(const ForeignFiles& files, const std::string& path,
                                   const std::vector<std::string>& knownPrograms, const XmlElement& templateEntry,
                                   const EngineList& engines) {
  ForeignReview review;
  review.source = ForeignLibraryKind(files, path);
  if (!review.source) return review;
  ForeignLibrary read = review.source == kLaunchBoxSource ? ReadLaunchBoxLibrary(files, path)
                        : review.source == kDbglSource    ? ReadDbglLibrary(files, path)
                        : review.source == kExoSource     ? ReadExoLibrary(files, path)
                                                          : ReadDFendLibrary(files, path);
  review.broken = std::move(read.broken);
  std::set<std::string> known;
  for (const std::string& program : knownPrograms) known.insert(PathKey(program));
  for (ForeignGame& game : read.games) {
    std::string program = game.program.empty() ? game.installer : game.program;
    if (program.empty() && !game.mounts.empty()) program = ProgramlessKey(game.name, game.mounts[0].host);
    if (!program.empty() && !known.insert(PathKey(program)).second) {
      ++review.alreadyKnown;
      continue;
    }
    review.entries.push_back(MakeForeignEntry(templateEntry, game));
    const std::string engine = ForeignEngineName(game.engine, engines, game.notCarried);
    if (!engine.empty()) SetAttributeText(Section(review.entries.back().get(), "Main"), "Engine", engine.c_str());
    review.games.push_back(std::move(game));
  }
  return review;
}

std::unique_ptr<XmlElement> TakeForeignEntry(ForeignReview& review, std::size_t index) {
  std::unique_ptr<XmlElement> entry = std::move(review.entries[index]);
  if (entry) SetAttributeText(Section(entry.get(), "Main"), "Name", review.games[index].name.c_str());
  return entry;
}

std::string NotCarriedLine(const ForeignGame& game) {
  if (game.notCarried.empty()) return std::string();
  std::string line = "Not carried: ";
  for (std::size_t i = 0; i < game.notCarried.size(); ++i) line += (i ? "; " : "") + game.notCarried[i];
  return line;
}

std::string BrokenProfilesText(const std::vector<BrokenProfile>& broken) {
  std::string text;
  for (const BrokenProfile& profile : broken) text += profile.file + ": " + profile.reason + "\n";
  return text;
}
