#include "launcher/ForeignGame.h"
#include "launcher/ForeignText.h"

#include "launcher/ForeignFiles.h"
#include "launcher/GameSchema.h"
#include "launcher/NewGameEntry.h"

namespace {

// Where each DOSBox section lives in an entry.
struct SectionPlace {
  const char* section;
  const char* element;
  bool underSound;
};

constexpr SectionPlace kSectionPlaces[] = {
    {"sdl", "Screen", false},   {"dosbox", "DosBox", false},  {"render", "Render", false},
    {"cpu", "Cpu", false},      {"joystick", "Joystick", false}, {"serial", "Serial", false},
    {"dos", "Dos", false},      {"ipx", "IPX", false},        {"mixer", "Mixer", true},
    {"midi", "Midi", true},     {"sblaster", "SoundBlaster", true}, {"gus", "Gravis", true},
    {"speaker", "Speaker", true},
};

// Keys that older DOSBox versions and other front ends wrote under another
// name than the template's.
struct Rename {
  const char* section;
  const char* from;
  const char* to;
};

constexpr Rename kRenames[] = {
    {"midi", "mididevice", "device"},  {"midi", "config", "midiconfig"},
    {"sblaster", "sbmixer", "mixer"},  {"sblaster", "type", "sbtype"},   {"sblaster", "base", "sbbase"},
    {"gus", "gusirq", "irq1"},         {"gus", "gusdma", "dma1"},       {"gus", "rate", "gusrate"},
    {"gus", "base", "gusbase"},        {"cpu", "cyclesup", "cycleup"},  {"cpu", "cyclesdown", "cycledown"},
    {"cpu", "type", "cputype"},
};

// DOSBox 0.74 settings the template does not list but DOSBox reads: they go
// into their section as they are, so that they reach the configuration.
struct Known {
  const char* section;
  const char* key;
};

constexpr Known kKnownKeys[] = {
    {"dosbox", "language"}, {"dosbox", "captures"}, {"cpu", "cputype"}, {"sblaster", "oplemu"},
};

XmlElement* ElementOfSection(XmlElement* entry, const std::string& section) {
  for (const SectionPlace& place : kSectionPlaces)
    if (section == place.section)
      return Section(place.underSound ? Section(entry, "Sound") : entry, place.element);
  return nullptr;
}

XmlAttribute* AttributeIgnoringCase(XmlElement* element, const std::string& key) {
  for (unsigned i = 0; i < element->GetAttributeCount(); ++i) {
    XmlAttribute* attribute = element->GetAttributes()[i];
    const std::string name = attribute->GetName();
    if (name.compare(0, 2, "__") != 0 && SameTextIgnoringCase(name, key)) return attribute;
  }
  return nullptr;
}

bool IsKnownKey(const std::string& section, const std::string& key) {
  for (const Known& known : kKnownKeys)
    if (section == known.section && key == known.key) return true;
  return false;
}

bool IsTrue(const std::string& value) {
  const std::string v = Lower(Trimmed(value));
  return v == "true" || v == "1" || v == "yes" || v == "on";
}

// Old configurations said whether there is an MPU-401 ("mpu401=true") and,
// apart, whether it is intelligent; DOSBox 0.74 takes one of three words.
void MergeMpu401(std::vector<ForeignSetting>& settings) {
  ForeignSetting* mpu = nullptr;
  bool intelligent = false;
  for (auto it = settings.begin(); it != settings.end();) {
    if (Lower(it->section) == "midi" && Lower(it->key) == "intelligent") {
      intelligent = IsTrue(it->value);
      it = settings.erase(it);
      continue;
    }
    ++it;
  }
  for (ForeignSetting& setting : settings)
    if (Lower(setting.section) == "midi" && Lower(setting.key) == "mpu401") mpu = &setting;
  if (!mpu) return;
  const std::string v = Lower(Trimmed(mpu->value));
  if (v == "true" || v == "1") mpu->value = intelligent ? "intelligent" : "uart";
  else if (v == "false" || v == "0") mpu->value = "none";
}

void PlaceSettings(XmlElement* entry, ForeignGame& game) {
  MergeMpu401(game.settings);
  for (const ForeignSetting& setting : game.settings) {
    std::string section = Lower(Trimmed(setting.section));
    std::string key = Lower(Trimmed(setting.key));
    // The joystick type sat under [bios] before it had a section.
    if (section == "bios" && key == "joysticktype") section = "joystick";
    key = TemplateKeyName(section, key);
    XmlElement* element = ElementOfSection(entry, section);
    XmlAttribute* attribute = element ? AttributeIgnoringCase(element, key) : nullptr;
    if (attribute) {
      attribute->SetValue(setting.value.c_str());
    } else if (element && IsKnownKey(section, key)) {
      SetAttributeText(element, key.c_str(), setting.value.c_str());
    } else {
      game.notCarried.push_back("setting [" + setting.section + "] " + setting.key + "=" + setting.value);
    }
  }
}

void SetCommands(XmlElement* entry, const char* name, const std::string& commands) {
  if (commands.empty()) return;
  XmlElement* element = Section(entry, name);
  if (element->GetCDataCount() > 0) element->GetCDatas()[0]->SetText(commands.c_str());
  else element->AddCData(commands.c_str(), 0);
}

int CategoryOfGenre(const std::string& genre) {
  std::size_t start = 0;
  while (start <= genre.size()) {
    std::size_t end = genre.find_first_of(";,", start);
    if (end == std::string::npos) end = genre.size();
    const int index = CategoryIndex(Trimmed(genre.substr(start, end - start)).c_str());
    if (index > 0) return index;
    start = end + 1;
  }
  return 0;
}

const char* MountType(ForeignMount::Kind kind) {
  switch (kind) {
    case ForeignMount::Floppy:
    case ForeignMount::FloppyImage:
      return "floppy";
    case ForeignMount::CD:
    case ForeignMount::CDImage:
      return "cdrom";
    default:
      return "hdd";
  }
}

bool IsImage(ForeignMount::Kind kind) {
  return kind == ForeignMount::FloppyImage || kind == ForeignMount::CDImage || kind == ForeignMount::DiskImage;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The DOS path of a program, mounting its folder as C when no mount holds it
// and C is free.
std::string ProgramDosPath(ForeignGame& game, const std::string& host, const char* what) {
  if (host.empty()) return std::string();
  std::string dos = DosPathThroughMounts(game.mounts, host);
  if (!dos.empty()) return dos;
  for (const ForeignMount& mount : game.mounts)
    if (mount.letter == 'C') {
      game.notCarried.push_back(std::string(what) + " " + host + " lies on no mounted drive");
      return std::string();
    }
  ForeignMount mount;
  mount.letter = 'C';
  mount.host = FolderPart(host);
  game.mounts.push_back(mount);
  return "C:\\" + NamePart(host);
}

}  // namespace

std::string TemplateKeyName(const std::string& section, const std::string& key) {
  for (const Rename& rename : kRenames)
    if (section == rename.section && key == rename.from) return rename.to;
  return key;
}

std::string DosPathThroughMounts(const std::vector<ForeignMount>& mounts, const std::string& host) {
  for (const ForeignMount& mount : mounts) {
    if (IsImage(mount.kind) || mount.host.empty()) continue;
    std::string folder = mount.host;
    while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
    if (host.size() <= folder.size() || !IsSeparator(host[folder.size()])) continue;
    if (!SameTextIgnoringCase(host.substr(0, folder.size()), folder)) continue;
    std::string rest = host.substr(folder.size() + 1);
    for (char& c : rest)
      if (c == '/') c = '\\';
    return std::string(1, mount.letter) + ":\\" + rest;
  }
  return std::string();
}

std::unique_ptr<XmlElement> MakeForeignEntry(const XmlElement& templateEntry, ForeignGame& game) {
  std::unique_ptr<XmlElement> entry = templateEntry.Clone();
  XmlElement* main = Section(entry.get(), "Main");
  SetAttributeText(main, "Name", game.name.c_str());
  SetAttributeText(main, "Description", "");
  if (const int category = CategoryOfGenre(game.genre)) SetAttributeText(main, "Category", CategoryList[category]);

  const std::pair<const char*, std::string> catalogue[] = {
      {"Source", game.source},
      {"Developer", game.developer},
      {"Publisher", game.publisher},
      {"Year", game.year},
      {"Genre", game.genre},
      {"Notes", game.notes},
      {"Favorite", game.favorite ? "true" : "false"},
      {"PlayCount", std::to_string(game.playCount)},
      {"PlayTime", std::to_string(game.playTime)},
      {"LastPlayed", game.lastPlayed},
  };
  for (const auto& field : catalogue) SetAttributeText(main, field.first, field.second.c_str());

  const std::string run = ProgramDosPath(game, game.program, "program");
  const std::string install = ProgramDosPath(game, game.installer, "installer");
  SetAttributeText(main, "Run", run.c_str());
  SetAttributeText(main, "RunParameters", game.parameters.c_str());
  SetAttributeText(main, "Install", install.c_str());
  SetAttributeText(main, "InstallParameters", game.installerParameters.c_str());

  XmlElement* mounts = Section(entry.get(), "Mount");
  for (const ForeignMount& mount : game.mounts) {
    if (mount.letter < 'A' || mount.letter > 'Y') {
      game.notCarried.push_back(std::string("mount of ") + mount.host + " as drive " + mount.letter);
      continue;
    }
    XmlElement* m = mounts->AddChildFromText(
        MountStartTag(MountType(mount.kind), mount.host, std::string(1, mount.letter)).c_str());
    if (IsImage(mount.kind)) SetAttributeText(m, "iso", "yes");
  }

  PlaceSettings(entry.get(), game);
  SetCommands(entry.get(), "Pre_Commands", game.preCommands);
  SetCommands(entry.get(), "Post_Commands", game.postCommands);
  return entry;
}
