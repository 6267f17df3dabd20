#include "launcher/ConfWriter.h"

#include <cstdio>
#include <memory>

#include "launcher/DefaultProfile.h"
#include "launcher/GameSchema.h"
#include "launcher/Storage.h"
#include "xml/FileNames.h"

#ifdef _WIN32
#include <windows.h>
#endif

std::string SystemShortPath(const std::string& path) {
#ifdef _WIN32
  char shortPath[kPathBufferSize];
  const DWORD length = GetShortPathNameA(path.c_str(), shortPath, sizeof(shortPath));
  if (length == 0 || length >= sizeof(shortPath)) return std::string();
  return std::string(shortPath, length);
#else
  (void)path;
  return std::string();
#endif
}

namespace {

// DOSBox's sections in the order it documents them, which is not the order of
// the entry's elements.
struct SettingSection {
  const char* header;
  const char* element;
  bool underSound;
};

constexpr SettingSection kSettingSections[] = {
    {"[sdl]", "Screen", false},        {"[dosbox]", "DosBox", false},
    {"[render]", "Render", false},     {"[cpu]", "Cpu", false},
    {"[joystick]", "Joystick", false}, {"[serial]", "Serial", false},
    {"[dos]", "Dos", false},           {"[ipx]", "IPX", false},
    {"[mixer]", "Mixer", true},        {"[midi]", "Midi", true},
    {"[sblaster]", "SoundBlaster", true}, {"[gus]", "Gravis", true},
    {"[speaker]", "Speaker", true},
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Collects the lines and remembers whether every write succeeded, so that a
// full disk is not mistaken for a finished file.
class ConfFile {
 public:
  explicit ConfFile(const std::string& path) : file_(OpenFileUtf8(path, "wb")) {}
  bool IsOpen() const { return file_ != nullptr; }

  void Write(const std::string& text) {
    if (ok_ && !text.empty()) ok_ = std::fwrite(text.data(), 1, text.size(), file_.get()) == text.size();
  }
  void Line(const std::string& text) { Write(text + "\r\n"); }

  bool Close() {
    const bool closed = std::fclose(file_.release()) == 0;
    return ok_ && closed;
  }

 private:
  std::unique_ptr<std::FILE, FileCloser> file_;
  bool ok_ = true;
};

std::string ShortOrSame(const std::string& path, ShortPathFunction shortPath) {
  if (!shortPath || path.empty()) return path;
  const std::string converted = shortPath(path);
  return converted.empty() ? path : converted;
}

void WriteSettings(ConfFile& conf, XmlElement* entry) {
  for (const SettingSection& section : kSettingSections) {
    XmlElement* element = Section(section.underSound ? Section(entry, "Sound") : entry, section.element);
    conf.Line(section.header);
    const unsigned count = element->GetAttributeCount();
    for (unsigned i = 0; i < count; ++i) {
      XmlAttribute* attribute = element->GetAttributes()[i];
      const std::string name = attribute->GetName();
      // "__name" holds the choices offered for "name" in the editor.
      if (name.compare(0, 2, "__") == 0) continue;
      conf.Line(name + "=" + attribute->GetValue());
    }
  }
}

void WriteMounts(ConfFile& conf, XmlElement* entry, ShortPathFunction shortPath) {
  XmlElement* mounts = Section(entry, "Mount");
  for (unsigned i = 0; i < mounts->GetChildCount(); ++i) {
    XmlElement* mount = mounts->GetChildren()[i];
    const std::string type = AttributeText(mount, "type");
    const std::string iso = AttributeText(mount, "iso");
    if (type.empty()) continue;
    std::string local = ShortOrSame(AttributeText(mount, "local"), shortPath);
    // DOSBox splits its commands at blanks. A folder whose short form still
    // has one (8.3 names are off on many volumes) is quoted; every other
    // path is written exactly as it is.
    if (local.find(' ') != std::string::npos && local.front() != '"') local = "\"" + local + "\"";
    const std::string remote = AttributeText(mount, "remote");
    const std::string command = EqualIgnoringCase(iso.c_str(), "yes") ? "imgmount " : "mount ";
    if (EqualIgnoringCase(type.c_str(), "hdd"))
      conf.Line(command + remote + " " + local);
    else
      conf.Line(command + remote + " " + local + " -t " + type);
  }
}

void WriteCommands(ConfFile& conf, XmlElement* entry, const char* section) {
  if (const char* text = FirstCDataText(Section(entry, section))) conf.Line(text);
}

// Drive, directory and program: "C:\GAMES\KEEN\KEEN.EXE" becomes "C:",
// "CD C:\GAMES\KEEN" and "KEEN.EXE".
void WriteProgram(ConfFile& conf, const std::string& program) {
  const std::size_t colon = program.find(':');
  if (colon != std::string::npos) conf.Line(program.substr(0, colon) + ":");
  const std::size_t backslash = program.rfind('\\');
  if (backslash == std::string::npos) {
    conf.Line(program);
    return;
  }
  conf.Line("CD " + program.substr(0, backslash));
  conf.Line(program.substr(backslash + 1));
}

}  // namespace

bool WriteDosBoxConf(XmlElement* entry, const std::string& target, LaunchMode mode,
                     ShortPathFunction shortPath) {
  return WriteDosBoxConfFile(entry, target, mode, shortPath) == ConfWritten::Whole;
}

ConfWritten WriteDosBoxConfFile(XmlElement* entry, const std::string& target, LaunchMode mode,
                                ShortPathFunction shortPath) {
  std::unique_ptr<XmlDocument> profile;
  if (!entry) {
    EnsureDefaultProfile();
    profile = std::make_unique<XmlDocument>(DefaultProfilePath().c_str());
    if (!profile->GetRoot()) profile->ParseText("<?xml version=\"1.0\"?><root/>");
    entry = TemplateEntry(*profile);
  }

  ConfFile conf(target);
  if (!conf.IsOpen()) return ConfWritten::Failed;

  WriteSettings(conf, entry);
  conf.Line("[autoexec]");
  WriteMounts(conf, entry, shortPath);
  WriteCommands(conf, entry, "Pre_Commands");

  const std::string program =
      AttributeText(Section(entry, "Main"), mode == LaunchMode::Run ? "Run" : "Install");
  if (program.empty()) return conf.Close() ? ConfWritten::WithoutProgram : ConfWritten::Failed;
  WriteProgram(conf, ShortOrSame(program, shortPath));
  WriteCommands(conf, entry, "Post_Commands");
  return conf.Close() ? ConfWritten::Whole : ConfWritten::Failed;
}
