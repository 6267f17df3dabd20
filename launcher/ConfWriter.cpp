#include "launcher/ConfWriter.h"

#include <cstdio>
#include <memory>

#include "launcher/DefaultProfile.h"
#include "launcher/GameSchema.h"
#include "launcher/Storage.h"
#include "xml/FileNames.h"

#ifdef _WIN32
#include <windows.h>

#include "text/AnsiText.h"
#include "text/TextConvert.h"
#endif

std::string SystemShortPath(const std::string& path) {
#ifdef _WIN32
  const std::wstring wide = WideFromUtf8(path);
  const DWORD size = GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (size == 0) return std::string();
  std::wstring shortPath(size, L'\0');
  const DWORD length = GetShortPathNameW(wide.c_str(), &shortPath[0], size);
  if (length == 0 || length >= size) return std::string();
  shortPath.resize(length);
  return Utf8FromWide(shortPath);
#else
  (void)path;
  return std::string();
#endif
}

bool SystemConfText(const std::string& text, std::string& confText) {
#ifdef _WIN32
  return Utf8ToAnsi(text, confText);
#else
  confText = text;
  return true;
#endif
}

bool ConfPathText(const std::string& path, ShortPathFunction shortPath, ConfTextFunction confText,
                  std::string& written) {
  const std::string shortForm = shortPath && !path.empty() ? shortPath(path) : std::string();
  for (const std::string& form : {shortForm, path}) {
    if (form.empty() && !path.empty()) continue;
    if (!confText) {
      written = form;
      return true;
    }
    if (confText(form, written)) return true;
  }
  written.clear();
  return false;
}

std::string BatchEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '%') escaped += '%';
    escaped += c;
  }
  return escaped;
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

// Collects the lines of the file in the code page DOSBox reads.
class ConfText {
 public:
  ConfText(ShortPathFunction shortPath, ConfTextFunction confText) : shortPath_(shortPath), confText_(confText) {}

  // Stored text (UTF-8) as the code page has it; text it cannot hold is kept
  // as stored, since no other form of it exists.
  std::string Text(const std::string& stored) const {
    std::string converted;
    if (!confText_) return stored;
    return confText_(stored, converted) ? converted : stored;
  }
  // A host path by a name DOSBox can open; as stored when there is none (the
  // launch refuses such a path before it gets here).
  std::string Path(const std::string& stored) const {
    std::string written;
    return ConfPathText(stored, shortPath_, confText_, written) ? written : stored;
  }

  void Line(const std::string& stored) { Written(Text(stored)); }
  void Written(const std::string& converted) { text_ += converted + "\r\n"; }
  std::string& text() { return text_; }

 private:
  ShortPathFunction shortPath_;
  ConfTextFunction confText_;
  std::string text_;
};

void WriteSettings(ConfText& conf, XmlElement* entry) {
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

void WriteMounts(ConfText& conf, XmlElement* entry) {
  XmlElement* mounts = Section(entry, "Mount");
  for (unsigned i = 0; i < mounts->GetChildCount(); ++i) {
    XmlElement* mount = mounts->GetChildren()[i];
    const std::string type = AttributeText(mount, "type");
    const std::string iso = AttributeText(mount, "iso");
    if (type.empty()) continue;
    const std::string stored = AttributeText(mount, "local");
    std::string local = conf.Path(Unquoted(stored));
    // DOSBox splits its commands at blanks. A folder whose short form still
    // has one (8.3 names are off on many volumes), or that was quoted, is
    // quoted; every other path is written exactly as it is.
    if (local.find(' ') != std::string::npos || stored != Unquoted(stored)) local = "\"" + local + "\"";
    const std::string remote = conf.Text(AttributeText(mount, "remote"));
    const std::string command = EqualIgnoringCase(iso.c_str(), "yes") ? "imgmount " : "mount ";
    std::string line = command + remote + " " + local;
    if (!EqualIgnoringCase(type.c_str(), "hdd")) line += " -t " + conf.Text(type);
    conf.Written(BatchEscaped(line));
  }
}

void WriteCommands(ConfText& conf, XmlElement* entry, const char* section) {
  if (const char* text = FirstCDataText(Section(entry, section))) conf.Line(text);
}

// A line that ends DOSBox: "exit", "@exit", in any case, with blanks around.
bool IsExitLine(std::string line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.pop_back();
  std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  if (line[start] == '@') ++start;
  return EqualIgnoringCase(line.c_str() + start, "exit");
}

// Whether the game asks DOSBox to stay open after it: Main's KeepOpen is
// "yes". Only looked up, so that a game that never chose stays unchanged.
bool KeepsDosBoxOpen(XmlElement* entry) {
  XmlElement* main = entry->FindChild("Main");
  XmlAttribute* keep = main ? main->FindAttribute("KeepOpen") : nullptr;
  return keep && EqualIgnoringCase(keep->GetValue().c_str(), "yes");
}

// The post-commands, without the lines that would close DOSBox when the game
// keeps it open.
void WritePostCommands(ConfText& conf, XmlElement* entry) {
  const char* text = FirstCDataText(Section(entry, "Post_Commands"));
  if (!text) return;
  if (!KeepsDosBoxOpen(entry)) {
    conf.Line(text);
    return;
  }
  std::string kept, all = text;
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t end = all.find('\n', start);
    const std::string line = all.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
    if (!IsExitLine(line.substr(0, line.size() - (line.empty() || line.back() != '\n' ? 0 : 1)))) kept += line;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  conf.Line(kept);
}

// Drive, directory and program: "C:\GAMES\KEEN\KEEN.EXE" becomes "C:",
// "CD C:\GAMES\KEEN" and "KEEN.EXE".
// The parameters (already in the configuration's code page), when there are
// some, follow the program on its line.
void WriteProgram(ConfText& conf, const std::string& program, const std::string& parameters) {
  const std::string tail = parameters.empty() ? std::string() : " " + parameters;
  const std::size_t colon = program.find(':');
  if (colon != std::string::npos) conf.Written(BatchEscaped(program.substr(0, colon) + ":"));
  const std::size_t backslash = program.rfind('\\');
  if (backslash == std::string::npos) {
    conf.Written(BatchEscaped(program + tail));
    return;
  }
  conf.Written(BatchEscaped("CD " + program.substr(0, backslash)));
  conf.Written(BatchEscaped(program.substr(backslash + 1) + tail));
}

}  // namespace

bool MakeDosBoxConf(XmlElement* entry, LaunchMode mode, std::string& text, ShortPathFunction shortPath,
                    ConfTextFunction confText) {
  std::unique_ptr<XmlDocument> profile;
  if (!entry) {
    EnsureDefaultProfile();
    profile = std::make_unique<XmlDocument>(DefaultProfilePath().c_str());
    if (!profile->GetRoot()) profile->ParseText("<?xml version=\"1.0\"?><root/>");
    entry = TemplateEntry(*profile);
  }

  ConfText conf(shortPath, confText);
  WriteSettings(conf, entry);
  conf.Line("[autoexec]");
  WriteMounts(conf, entry);
  WriteCommands(conf, entry, "Pre_Commands");

  const std::string program =
      AttributeText(Section(entry, "Main"), mode == LaunchMode::Run ? "Run" : "Install");
  bool complete = false;
  if (!program.empty()) {
    // Looked up without creating it: most games have no parameters, and
    // writing their configuration must not change them.
    const XmlAttribute* parameters =
        Section(entry, "Main")->FindAttribute(mode == LaunchMode::Run ? "RunParameters" : "InstallParameters");
    WriteProgram(conf, conf.Path(program), parameters ? conf.Text(parameters->GetValue()) : std::string());
    WritePostCommands(conf, entry);
    complete = true;
  }
  text.swap(conf.text());
  return complete;
}

bool WriteDosBoxConf(XmlElement* entry, const std::string& target, LaunchMode mode, ShortPathFunction shortPath,
                     ConfTextFunction confText) {
  return WriteDosBoxConfFile(entry, target, mode, shortPath, confText) == ConfWritten::Whole;
}

ConfWritten WriteDosBoxConfFile(XmlElement* entry, const std::string& target, LaunchMode mode,
                                ShortPathFunction shortPath, ConfTextFunction confText) {
  std::string text;
  const bool complete = MakeDosBoxConf(entry, mode, text, shortPath, confText);
  std::unique_ptr<std::FILE, FileCloser> file(OpenFileUtf8(target, "wb"));
  if (!file) return ConfWritten::Failed;
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  if (std::fclose(file.release()) != 0 || !written) return ConfWritten::Failed;
  return complete ? ConfWritten::Whole : ConfWritten::WithoutProgram;
}
