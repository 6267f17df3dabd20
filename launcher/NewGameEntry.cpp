#include "launcher/NewGameEntry.h"

#include "launcher/GameSchema.h"

MountMode DecideMountMode(bool preset, bool onDisk, bool cd, bool floppy) {
  if (preset || onDisk) return MountMode::Disk;
  if (cd) return MountMode::CD;
  if (floppy) return MountMode::Floppy;
  return MountMode::Manual;
}

char DriveLetterOf(const std::string& path) {
  if (path.empty()) return '\0';
  const char c = path[0];
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return c;
  return '\0';
}

std::string MountStartTag(const char* type, const std::string& local, const std::string& remote) {
  return std::string("<m type=\"") + XmlEncode(type) +
         "\" __type=\"floppy|||cdrom|||hdd\" iso=\"no\" __iso=\"yes|||no\" local=\"" +
         XmlEncode(local) + "\" remote=\"" + XmlEncode(remote) +
         "\" __remote=\"A|||B|||C|||D|||E|||F|||G|||H|||I|||J|||K|||L|||M|||N|||O|||P|||Q|||R|||S|||T|||U|||V|||W|||X|||Y\" />";
}

namespace {

std::string Root(char letter) { return std::string(1, letter) + ":\\"; }

void AppendMounts(XmlElement* mount, const NewGameAnswers& answers) {
  switch (answers.mode) {
    case MountMode::Disk: {
      const char drive = answers.executable.empty() ? answers.systemDrive
                                                    : DriveLetterOf(answers.executable);
      const char letter = answers.executable.empty() ? 'D' : drive;
      mount->AddChildFromText(MountStartTag("hdd", Root(drive), std::string(1, letter)).c_str());
      break;
    }
    case MountMode::Floppy:
    case MountMode::CD: {
      const bool floppy = answers.mode == MountMode::Floppy;
      const char letter = answers.installer.empty() ? (floppy ? 'A' : 'D')
                                                    : DriveLetterOf(answers.installer);
      mount->AddChildFromText(MountStartTag("hdd", Root(answers.systemDrive), "C").c_str());
      mount->AddChildFromText(
          MountStartTag(floppy ? "floppy" : "cdrom", Root(letter), std::string(1, letter)).c_str());
      break;
    }
    case MountMode::Manual:
      for (int i = 0; i < 6; ++i) mount->AddChildFromText(MountStartTag("", "", "").c_str());
      break;
  }
}

}  // namespace

std::unique_ptr<XmlElement> MakeNewGameEntry(const XmlElement& templateEntry,
                                             const NewGameAnswers& answers) {
  std::unique_ptr<XmlElement> entry = templateEntry.Clone();
  XmlElement* main = Section(entry.get(), "Main");
  SetAttributeText(main, "Name", answers.name.c_str());
  SetAttributeText(main, "Description", answers.description.c_str());
  SetAttributeText(main, "Category", answers.category.c_str());
  SetAttributeText(main, "Install", answers.installer.c_str());
  SetAttributeText(main, "Run", answers.executable.c_str());
  AppendMounts(Section(entry.get(), "Mount"), answers);
  return entry;
}
