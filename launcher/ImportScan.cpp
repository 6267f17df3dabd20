#include "launcher/ImportScan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include "launcher/GameSchema.h"
#include "launcher/NewGameEntry.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Extension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : Upper(name.substr(dot + 1));
}

std::string Stem(const std::string& name) {
  return Upper(name.substr(0, name.rfind('.')));
}

// Letters and digits only, in upper case: "Commander Keen 4" as COMMANDERKEEN4.
std::string Squeezed(const std::string& text) {
  std::string out;
  for (const char c : text)
    if (std::isalnum(static_cast<unsigned char>(c))) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsInstallerStem(const std::string& stem) { return StartsWith(stem, "INSTAL") || StartsWith(stem, "SETUP"); }

// Uninstallers go by many names (UNINSTAL, UINSTALL, UNINS000, KQUNINST,
// DEINSTAL, UNWISE, REMOVE): whichever is the largest program of a game, it
// must never be the one that starts it.
bool IsUninstallerStem(const std::string& stem) {
  if (stem.find("UNINST") != std::string::npos) return true;
  for (const char* prefix : {"UINST", "UNINS", "DEINST", "UNWISE"})
    if (StartsWith(stem, prefix)) return true;
  return StartsWith(stem, "REMOVE") && stem.size() <= 7;  // REMOVE and REMOVE? only: not REMOVEDX
}

// Programs that come with games but start none: uninstallers, sound and
// hardware set-up, DOS extenders, unpackers and readers.
bool IsToolStem(const std::string& stem) {
  if (IsUninstallerStem(stem)) return true;
  static const char* const kPrefixes[] = {"SETSOUND", "SETSND", "SNDSETUP", "SOUNDSET",
                                          "SETBLAST", "SETMIDI", "SETMAIN", "CONFIG", "DOS4GW", "DOS32A",
                                          "CWSDPMI", "PMODEW", "UNIVBE", "PKUNZIP", "UNZIP", "README", "CATALOG"};
  for (const char* prefix : kPrefixes)
    if (StartsWith(stem, prefix)) return true;
  static const char* const kNames[] = {"CFG", "SETCFG", "SOUND", "LHA", "ARJ", "READ", "HELP", "ORDER", "INFO"};
  for (const char* name : kNames)
    if (stem == name) return true;
  return false;
}

// How much a program's name is like its folder's: 3 the same (or its first
// eight letters), 2 a part of it, 1 sharing a word's beginning, 0 nothing.
int Likeness(const std::string& folderName, const std::string& stem) {
  const std::string folder = Squeezed(folderName), program = Squeezed(stem);
  if (program.empty()) return 0;
  if (program == folder || program == folder.substr(0, 8)) return 3;
  if (program.size() >= 3 && folder.find(program) != std::string::npos) return 2;
  std::string word;
  for (std::size_t i = 0; i <= folderName.size(); ++i) {
    const char c = i < folderName.size() ? folderName[i] : ' ';
    if (std::isalnum(static_cast<unsigned char>(c))) {
      word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      continue;
    }
    if (word.size() >= 3 && (StartsWith(program, word.c_str()) || StartsWith(word, program.c_str()))) return 1;
    word.clear();
  }
  return 0;
}

// How strongly a program's name says it starts the game: a batch file named
// like the folder (5) or named as launchers are (GO, RUN, START, PLAY: 4)
// beats every program, since a game ships one when its program needs
// arguments or a step before it; otherwise the likeness of the names.
int Rank(const std::string& folderName, const std::string& name) {
  const std::string stem = Stem(name);
  const int likeness = Likeness(folderName, stem);
  if (Extension(name) != "BAT") return likeness;
  if (likeness >= 2) return 5;
  for (const char* launcher : {"GO", "RUN", "START", "PLAY"})
    if (stem == launcher) return 4;
  return likeness;
}

bool HasControlCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
  });
}

char SeparatorOf(const std::string& path) { return path.find('\\') != std::string::npos ? '\\' : '/'; }

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + SeparatorOf(folder) + name;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The folders the library's games use, in upper case and sorted, so that
// whether one of them lies in a folder found is a few binary searches, not a
// pass over the whole library for every folder.
class KnownFolders {
 public:
  explicit KnownFolders(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) sorted_.push_back(Upper(folder));
    std::sort(sorted_.begin(), sorted_.end());
  }

  // Whether a known folder is folder itself or lies below it.
  bool AnyIn(const std::string& folder) const {
    const std::string f = Upper(folder);
    if (std::binary_search(sorted_.begin(), sorted_.end(), f)) return true;
    for (const char separator : {'\\', '/'}) {
      const std::string below = f + separator;
      const auto found = std::lower_bound(sorted_.begin(), sorted_.end(), below);
      if (found != sorted_.end() && found->compare(0, below.size(), below) == 0) return true;
    }
    return false;
  }

 private:
  std::vector<std::string> sorted_;
};

class Scanner {
 public:
  Scanner(const ListFolderFunction& list, const std::vector<std::string>& known,
          const std::function<void(int)>& progress, const std::atomic<bool>* cancel)
      : list_(list), known_(known), progress_(progress), cancel_(cancel) {}

  ImportScan Run(const std::string& root, const std::vector<std::string>& knownFolders,
                 const IdentifyFunction& identify) {
    if (identify) {
      const std::string rootIdentity = identify(root);
      if (!rootIdentity.empty()) seen_.insert(rootIdentity);
      IdentifyKnown(knownFolders, identify);
    }
    std::vector<FolderItem> items;
    if (!List(root, items)) return std::move(result_);
    for (const FolderItem& item : items) {
      if (Stopped()) break;
      std::vector<FolderItem> inner;
      const std::string folder = Join(root, item.name);
      if (!item.folder || !Enter(folder, item, inner)) continue;
      if (TakeGame(folder, item, inner, std::string())) continue;
      // A folder of games, not a game: a publisher's or a series' name,
      // which each game keeps so that finding that name finds them.
      for (const FolderItem& innerItem : inner) {
        if (Stopped()) break;
        std::vector<FolderItem> deepest;
        const std::string deeper = Join(folder, innerItem.name);
        if (innerItem.folder && Enter(deeper, innerItem, deepest)) TakeGame(deeper, innerItem, deepest, item.name);
      }
    }
    return std::move(result_);
  }

 private:
  // The identities of the library's folders and of the folders above them
  // (a game whose program lies in a subfolder of its own), so that a found
  // folder is known whichever path reached it: a link, Z: and a drive letter
  // under Wine, a share and its local folder.
  void IdentifyKnown(const std::vector<std::string>& knownFolders, const IdentifyFunction& identify) {
    std::set<std::string> asked;
    for (const std::string& folder : knownFolders) {
      for (const std::string& path : {folder, FolderOf(folder)}) {
        if (path.empty() || !asked.insert(Upper(path)).second) continue;
        const std::string identity = identify(path);
        if (!identity.empty()) knownIdentities_.insert(identity);
      }
    }
  }

  bool Stopped() {
    if (cancel_ && cancel_->load()) result_.cancelled = true;
    return result_.cancelled;
  }

  bool List(const std::string& folder, std::vector<FolderItem>& items) {
    const bool listed = list_(folder, items);
    if (progress_) progress_(++listed_);
    if (!listed) ++result_.unreadable;
    // Sorted by name, so that a scan finds the same games in the same order.
    std::sort(items.begin(), items.end(), [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    return listed;
  }

  // Lists a folder met on the way down, unless its name cannot reach DOS or
  // it is a folder seen already through a link.
  bool Enter(const std::string& folder, const FolderItem& item, std::vector<FolderItem>& items) {
    if (HasControlCharacter(folder)) {
      ++result_.badNames;
      return false;
    }
    if (!item.identity.empty() && !seen_.insert(item.identity).second) {
      ++result_.loops;
      return false;
    }
    return List(folder, items);
  }

  // Takes folder (listed as item) as a game when it holds DOS programs or a
  // CD image.
  bool TakeGame(const std::string& folder, const FolderItem& item, const std::vector<FolderItem>& items,
                const std::string& publisher) {
    const std::string& name = item.name;
    std::vector<std::string> programs, images;
    std::vector<std::uint64_t> sizes;
    bool badProgram = false;
    for (const FolderItem& file : items) {
      if (file.folder) continue;
      const std::string extension = Extension(file.name);
      if (IsDosProgram(file.name)) {
        badProgram |= HasControlCharacter(file.name);
        programs.push_back(file.name);
        sizes.push_back(file.size);
      } else if (extension == "CUE" || extension == "ISO") {
        // A .bin is reached through its cue sheet; a bare .bin or .img may
        // as well be a floppy, a hard disk or a game's own data.
        images.push_back(file.name);
      }
    }
    if (programs.empty() && images.empty()) return false;
    if (badProgram) {
      ++result_.badNames;
      return true;
    }
    if (known_.AnyIn(folder) || (!item.identity.empty() && knownIdentities_.count(item.identity) != 0)) {
      ++result_.alreadyKnown;
      return true;
    }
    FoundGame game;
    game.folder = folder;
    game.name = name;
    game.publisher = publisher;
    const std::string run = ChooseProgram(name, programs, sizes);
    const std::string install = ChooseInstaller(programs);
    if (!run.empty()) game.run = Join(folder, run);
    if (!install.empty()) game.install = Join(folder, install);
    if (game.run.empty() && game.install.empty() && images.empty()) return true;  // only tools: nothing to start
    if (!images.empty()) {
      // A cue sheet names its own data track, so it goes before an image.
      std::stable_sort(images.begin(), images.end(),
                       [](const std::string& a, const std::string& b) { return Extension(a) == "CUE" && Extension(b) != "CUE"; });
      game.image = Join(folder, images.front());
    }
    result_.games.push_back(std::move(game));
    return true;
  }

  const ListFolderFunction& list_;
  const KnownFolders known_;
  const std::function<void(int)>& progress_;
  const std::atomic<bool>* cancel_;
  ImportScan result_;
  std::set<std::string> seen_;
  std::set<std::string> knownIdentities_;
  int listed_ = 0;
};

}  // namespace

std::string FolderIdentityText(std::uint32_t volumeSerial, std::uint64_t fileNumber) {
  if (fileNumber == 0) return std::string();
  char text[32];
  std::snprintf(text, sizeof(text), "%08X:%016llX", static_cast<unsigned>(volumeSerial),
                static_cast<unsigned long long>(fileNumber));
  return text;
}

bool IsDosProgram(const std::string& name) {
  const std::string extension = Extension(name);
  return extension == "EXE" || extension == "COM" || extension == "BAT";
}

std::string ChooseProgram(const std::string& folderName, const std::vector<std::string>& names,
                          const std::vector<std::uint64_t>& sizes) {
  // Among the programs of the best rank the largest wins, so the only one
  // left wins too, and the largest of all when none is alike.
  int best = -1, bestRank = -1;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string stem = Stem(names[i]);
    if (IsInstallerStem(stem) || IsToolStem(stem)) continue;
    const int rank = Rank(folderName, names[i]);
    if (rank > bestRank || (rank == bestRank && sizes[i] > sizes[static_cast<std::size_t>(best)])) {
      best = static_cast<int>(i);
      bestRank = rank;
    }
  }
  return best < 0 ? std::string() : names[static_cast<std::size_t>(best)];
}

std::string ChooseInstaller(const std::vector<std::string>& names) {
  for (const char* prefix : {"INSTAL", "SETUP"})
    for (const std::string& name : names)
      if (StartsWith(Stem(name), prefix)) return name;
  return std::string();
}

ImportScan ScanForGames(const std::string& root, const ListFolderFunction& list,
                        const std::vector<std::string>& knownFolders, const std::function<void(int)>& progress,
                        const std::atomic<bool>* cancel, const IdentifyFunction& identify) {
  return Scanner(list, knownFolders, progress, cancel).Run(root, knownFolders, identify);
}

std::vector<std::string> LibraryRunFolders(const XmlDocument& library) {
  std::vector<std::string> folders;
  XmlElement* games = GamesOf(library);
  if (!games) return folders;
  for (unsigned i = 0; i < games->GetChildCount(); ++i) {
    XmlElement* game = games->GetChildren()[i];
    XmlElement* main = Section(game, "Main");
    // Installer-only and CD-image games have no program yet; their folders
    // count too, so that importing twice adds nothing.
    for (const char* attribute : {"Run", "Install"}) {
      const std::string path = AttributeText(main, attribute);
      if (!path.empty()) folders.push_back(FolderOf(path));
    }
    XmlElement* mounts = game->FindChild("Mount");
    for (unsigned m = 0; mounts && m < mounts->GetChildCount(); ++m) {
      XmlElement* mount = mounts->GetChildren()[m];
      if (AttributeText(mount, "iso") == "yes") folders.push_back(FolderOf(AttributeText(mount, "local")));
    }
  }
  return folders;
}

std::unique_ptr<XmlElement> MakeImportedEntry(XmlElement& templateEntry, const FoundGame& found,
                                              char systemDrive) {
  NewGameAnswers answers;
  answers.name = found.name;
  answers.category = AttributeText(Section(&templateEntry, "Main"), "Category");
  answers.systemDrive = systemDrive;
  answers.installer = found.install;
  std::unique_ptr<XmlElement> entry;
  XmlElement* cd = nullptr;
  if (found.run.empty() && found.install.empty()) {
    answers.mode = MountMode::CD;
    answers.installer = found.image;  // the CD drive's letter comes from here; replaced below
    entry = MakeNewGameEntry(templateEntry, answers);
    SetAttributeText(Section(entry.get(), "Main"), "Install", "");
    XmlElement* mounts = Section(entry.get(), "Mount");
    cd = mounts->GetChildren()[mounts->GetChildCount() - 1];
    SetAttributeText(cd, "remote", "D");
  } else {
    // The program's drive is mounted under its own letter; a game with only
    // an installer gets the installer's drive the same way.
    answers.mode = MountMode::Disk;
    answers.executable = found.run.empty() ? found.install : found.run;
    entry = MakeNewGameEntry(templateEntry, answers);
    SetAttributeText(Section(entry.get(), "Main"), "Run", found.run.c_str());
    if (!found.image.empty()) {
      // The CD the game was installed from (its music, its data) beside the
      // program; its letter must not hide the program's drive.
      char letter = 'D';
      if (letter == DriveLetterOf(answers.executable)) ++letter;
      cd = Section(entry.get(), "Mount")->AddChildFromText(MountStartTag("cdrom", "", std::string(1, letter)).c_str());
    }
  }
  if (cd) {
    SetAttributeText(cd, "local", found.image.c_str());
    SetAttributeText(cd, "iso", "yes");
  }
  // Kept in Main, which the configuration file never gets, for the find box.
  if (!found.publisher.empty()) SetAttributeText(Section(entry.get(), "Main"), "Publisher", found.publisher.c_str());
  return entry;
}
