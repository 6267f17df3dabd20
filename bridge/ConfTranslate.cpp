#include "bridge/ConfTranslate.h"

#include <cctype>
#include <cstring>
#include <map>
#include <set>

#include "launcher/ConfWriter.h"

namespace {

struct Line {
  std::string body;  // without its line end
  std::string end;   // "\r\n", "\n" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    Line line;
    if (newline == std::string::npos) {
      line.body = text.substr(start);
      start = text.size();
    } else {
      line.body = text.substr(start, newline - start);
      line.end = "\n";
      start = newline + 1;
    }
    if (!line.body.empty() && line.body.back() == '\r') {
      line.body.pop_back();
      line.end = "\r" + line.end;
    }
    lines.push_back(line);
  }
  return lines;
}

std::string Trim(const std::string& text) {
  const char* blanks = " \t";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

char UpperLetter(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// "X:" or "X:\..." (a drive path) and "\\server\share" paths are Windows
// paths; anything else is left to DOSBox as it is.
bool IsWindowsPath(const std::string& path) {
  if (path.size() >= 2 && IsLetter(path[0]) && path[1] == ':') return true;
  return path.compare(0, 2, "\\\\") == 0;
}

// A word of a DOS command line: blanks separate words, double quotes hold
// blanks inside one. raw is the word as written, quotes included.
struct Word {
  std::string text;
  std::string raw;
};

std::vector<Word> SplitWords(const std::string& line) {
  std::vector<Word> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    const std::size_t start = i;
    Word word;
    bool quoted = false;
    for (; i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')); ++i) {
      if (line[i] == '"')
        quoted = !quoted;
      else
        word.text += line[i];
    }
    word.raw = line.substr(start, i - start);
    words.push_back(word);
  }
  return words;
}

// "%%" is one "%" in a batch line; DOSBox reads [autoexec] as one.
std::string BatchText(const std::string& line) {
  std::string text;
  for (std::size_t i = 0; i < line.size(); ++i) {
    text += line[i];
    if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == '%') ++i;
  }
  return text;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// ---- settings -------------------------------------------------------------

// A setting whose name (or value) the running DOSBox spells differently. An
// empty new name drops the setting: DOSBox has no place for it.
struct SettingRename {
  const char* section;
  const char* name;
  const char* newName;
  const char* value;     // only this value is changed (null: any value)
  const char* newValue;  // null: the value stays
  const char* why;
};

constexpr SettingRename kSettingRenames[] = {
    {"dosbox", "machine", "machine", "vga", "svga_s3", "this DOSBox calls VGA svga_s3"},
    {"render", "scale", "scaler", nullptr, nullptr, "this DOSBox's name for the scaler"},
    {"midi", "device", "mididevice", "win32", "default",
     "Windows' MIDI does not exist on this system; its default MIDI output plays instead"},
    {"midi", "device", "mididevice", nullptr, nullptr, "this DOSBox's name for the MIDI device"},
    {"sblaster", "mixer", "sbmixer", nullptr, nullptr, "this DOSBox's name for the Sound Blaster mixer"},
    {"gus", "irq1", "gusirq", nullptr, nullptr, "this DOSBox's name for the GUS IRQ"},
    {"gus", "dma1", "gusdma", nullptr, nullptr, "this DOSBox's name for the GUS DMA channel"},
    {"gus", "irq2", "", nullptr, nullptr, "this DOSBox emulates one GUS IRQ (gusirq, from irq1)"},
    {"gus", "dma2", "", nullptr, nullptr, "this DOSBox emulates one GUS DMA channel (gusdma, from dma1)"},
    {"sdl", "output", "output", "ddraw", "surface", "DirectDraw exists only on Windows"},
};

// Setting lines are "name=value" with optional blanks around both.
bool SplitSetting(const std::string& body, std::string& name, std::string& value) {
  const std::size_t equals = body.find('=');
  if (equals == std::string::npos) return false;
  name = Trim(body.substr(0, equals));
  value = Trim(body.substr(equals + 1));
  return !name.empty();
}

bool IsDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// ---- mounts ---------------------------------------------------------------

struct Mount {
  std::size_t line = 0;
  std::string command;       // "mount" or "imgmount", as written
  char letter = 0;           // as written, upper case
  char newLetter = 0;        // where it goes
  std::vector<std::string> windowsPaths;
  std::vector<std::string> hostPaths;  // parallel; "" where no host path was found
  std::string options;       // everything after the paths, as written
  bool directory = false;    // a folder mount, which CD lines can lie in
  bool dropped = false;      // the host's root with nothing on it in use
};

// The longest current directory DOS keeps: 64 characters after "X:\".
// (DOSBox 0.74 goes a little further, to 71 in all.)
constexpr std::size_t kLongestDosPath = 67;

// Letters DOSBox lets a mount take: its own Z: is never one of them.
constexpr const char* kFreeLetters = "CDEFGHIJKLMNOPQRSTUVWXY";

char TakeFreeLetter(std::set<char>& used) {
  for (const char* p = kFreeLetters; *p; ++p) {
    if (!used.count(*p)) {
      used.insert(*p);
      return *p;
    }
  }
  return 0;
}

// Parses "mount C path [-t type] ..." and "imgmount D a.iso [b.iso] -t iso".
bool ParseMount(const std::string& body, Mount& mount) {
  std::vector<Word> words = SplitWords(body);
  for (Word& word : words) word.text = BatchText(word.text);
  if (words.size() < 3) return false;
  const std::string command = Lower(words[0].text);
  if (command != "mount" && command != "imgmount") return false;
  std::string letter = words[1].text;
  if (letter.size() == 2 && letter[1] == ':') letter.pop_back();
  if (letter.size() != 1 || !IsLetter(letter[0])) return false;
  mount.command = words[0].text;
  mount.letter = mount.newLetter = UpperLetter(letter[0]);
  std::size_t i = 2;
  for (; i < words.size() && !words[i].text.empty() && words[i].text[0] != '-'; ++i) {
    if (!IsWindowsPath(words[i].text)) return false;
    mount.windowsPaths.push_back(words[i].text);
  }
  if (mount.windowsPaths.empty()) return false;
  // The rest is kept as written: find where it starts in the line.
  std::size_t position = 0;
  for (std::size_t w = 0; w < i; ++w) position = body.find(words[w].raw, position) + words[w].raw.size();
  mount.options = body.substr(position);
  mount.directory = command == "mount";
  return true;
}

// Host paths are compared without a closing slash ("/" stays "/").
std::string WithoutClosingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The path of folder below root as its components, or false when folder does
// not lie in root.
bool ComponentsBelow(const std::string& root, const std::string& folder, std::vector<std::string>& parts) {
  const std::string r = WithoutClosingSlash(root);
  const std::string f = WithoutClosingSlash(folder);
  std::string rest;
  if (f == r) {
    rest.clear();
  } else if (r == "/") {
    if (f.empty() || f[0] != '/') return false;
    rest = f.substr(1);
  } else if (f.size() > r.size() && f.compare(0, r.size(), r) == 0 && f[r.size()] == '/') {
    rest = f.substr(r.size() + 1);
  } else {
    return false;
  }
  parts.clear();
  std::size_t start = 0;
  while (start <= rest.size()) {
    const std::size_t slash = rest.find('/', start);
    const std::string part = rest.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!part.empty()) parts.push_back(part);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}

std::string BaseName(const std::string& hostPath) {
  const std::string path = WithoutClosingSlash(hostPath);
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsCdCommand(const std::string& word) {
  const std::string lower = Lower(word);
  return lower == "cd" || lower == "chdir";
}

class Translator {
 public:
  Translator(const std::string& text, HostPathFunction toHost) : lines_(SplitLines(text)), toHost_(toHost) {}

  TranslatedConf Run() {
    FindMounts();
    std::string section;
    bool programLineNext = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      Line& line = lines_[i];
      const std::string trimmed = Trim(line.body);
      if (!trimmed.empty() && trimmed[0] == '[' && trimmed.find(']') != std::string::npos) {
        section = Lower(Trim(trimmed.substr(1, trimmed.find(']') - 1)));
        Emit(line.body, line.end);
        continue;
      }
      if (section != "autoexec") {
        TranslateSetting(section, line);
        continue;
      }
      if (mountLines_.count(i)) {
        EmitMount(mounts_[mountLines_[i]], line.end);
        continue;
      }
      if (programLineNext && !trimmed.empty()) {
        programLineNext = false;
        TranslateProgram(line);
        continue;
      }
      if (trimmed.size() == 2 && trimmed[1] == ':' && moved_.count(UpperLetter(trimmed[0]))) {
        const char to = moved_[UpperLetter(trimmed[0])];
        Note("drive line " + trimmed + " -> " + std::string(1, to) + ":");
        Emit(std::string(1, to) + ":", line.end);
        continue;
      }
      const std::vector<Word> words = SplitWords(trimmed);
      if (words.size() >= 2 && IsCdCommand(words[0].text)) {
        programLineNext = TranslateCd(trimmed, line.end);
        continue;
      }
      Emit(line.body, line.end);
    }
    return result_;
  }

 private:
  void Emit(const std::string& body, const std::string& end) { result_.text += body + end; }
  void Note(const std::string& note) { result_.notes.push_back(note); }

  std::string Host(const std::string& windowsPath) const {
    return toHost_ ? toHost_(windowsPath) : std::string();
  }

  void FindMounts() {
    std::string section;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const std::string trimmed = Trim(lines_[i].body);
      if (!trimmed.empty() && trimmed[0] == '[' && trimmed.find(']') != std::string::npos) {
        section = Lower(Trim(trimmed.substr(1, trimmed.find(']') - 1)));
        continue;
      }
      if (section != "autoexec") continue;
      // Every drive letter a mount line names is taken, translated or not.
      const std::vector<Word> words = SplitWords(trimmed);
      if (words.size() >= 2) {
        const std::string command = Lower(words[0].text);
        if ((command == "mount" || command == "imgmount") && !words[1].text.empty() && IsLetter(words[1].text[0]) &&
            (words[1].text.size() == 1 || (words[1].text.size() == 2 && words[1].text[1] == ':')))
          used_.insert(UpperLetter(words[1].text[0]));
      }
      Mount mount;
      if (!ParseMount(trimmed, mount)) continue;
      mount.line = i;
      for (const std::string& path : mount.windowsPaths) mount.hostPaths.push_back(Host(path));
      mountLines_[i] = mounts_.size();
      mounts_.push_back(mount);
    }
    NarrowRootMounts();
    used_.insert('Z');
    for (Mount& mount : mounts_) {
      if (mount.letter != 'Z') continue;
      if (!moved_.count('Z')) moved_['Z'] = TakeFreeLetter(used_);
      mount.newLetter = moved_['Z'];
      if (!mount.newLetter) {
        mount.newLetter = 'Z';
        moved_.erase('Z');
      }
    }
  }

  // The Windows path a CD line changes to, as DOS reads it ("" for other
  // lines).
  static std::string CdPath(const std::string& trimmed) {
    const std::vector<Word> words = SplitWords(trimmed);
    if (words.size() < 2 || !IsCdCommand(words[0].text)) return std::string();
    std::string path = BatchText(Trim(trimmed.substr(trimmed.find_first_of(" \t"))));
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
    return path.size() >= 2 && IsLetter(path[0]) && path[1] == ':' ? path : std::string();
  }

  // A folder mount of the host's root ("Game is already in my disk" under
  // Wine mounts Z:, which is /) would hand the DOS program the whole
  // system. It becomes the narrowest folder that holds the folders the CD
  // lines of its drive name, or goes when nothing on it is used.
  void NarrowRootMounts() {
    for (Mount& mount : mounts_) {
      if (!mount.directory || mount.hostPaths.size() != 1 || WithoutClosingSlash(mount.hostPaths[0]) != "/")
        continue;
      std::vector<std::string> common;
      bool any = false;
      std::string section;
      for (const Line& line : lines_) {
        const std::string trimmed = Trim(line.body);
        if (!trimmed.empty() && trimmed[0] == '[' && trimmed.find(']') != std::string::npos) {
          section = Lower(Trim(trimmed.substr(1, trimmed.find(']') - 1)));
          continue;
        }
        const std::string path = section == "autoexec" ? CdPath(trimmed) : std::string();
        if (path.empty() || UpperLetter(path[0]) != mount.letter) continue;
        std::vector<std::string> parts;
        const std::string host = Host(path);
        if (host.empty() || !ComponentsBelow("/", host, parts)) continue;
        if (!any) common = parts;
        std::size_t same = 0;
        while (same < common.size() && same < parts.size() && common[same] == parts[same]) ++same;
        common.resize(same);
        any = true;
      }
      const std::string before = Trim(lines_[mount.line].body);
      if (!any) {
        mount.dropped = true;
        Note(before + " left out: it mounts the host's root, and nothing on it is used");
        continue;
      }
      if (common.empty()) {
        result_.failures.push_back(before + ": the game's folders have only the host's root in common, "
                                   "which is not mounted");
        continue;
      }
      std::string narrowed;
      for (const std::string& part : common) narrowed += "/" + part;
      mount.hostPaths[0] = narrowed;
    }
  }

  void EmitMount(const Mount& mount, const std::string& end) {
    if (mount.dropped) return;
    std::string line = mount.command + " " + std::string(1, mount.newLetter);
    bool complete = true;
    for (std::size_t p = 0; p < mount.windowsPaths.size(); ++p) {
      const std::string& host = mount.hostPaths[p];
      // DOSBox takes a path with blanks only in quotes, and has no way to
      // write a quote inside them.
      if (host.empty() || host.find('"') != std::string::npos || WithoutClosingSlash(host) == "/") {
        complete = false;
        line += " " + Quoted(mount.windowsPaths[p]);
        result_.failures.push_back(host.empty() ? "no host path for " + mount.windowsPaths[p]
                                                : "DOSBox cannot be handed " + host + " (" +
                                                      mount.windowsPaths[p] + ")");
      } else {
        line += " " + Quoted(host);
      }
    }
    line = BatchEscaped(line) + mount.options;
    if (complete) {
      Note(Trim(lines_[mount.line].body) + " -> " + line +
           (mount.newLetter != mount.letter ? " (Z: is DOSBox's own drive)" : ""));
    }
    Emit(line, end);
  }

  void TranslateSetting(const std::string& section, const Line& line) {
    std::string name, value;
    if (!SplitSetting(line.body, name, value)) {
      Emit(line.body, line.end);
      return;
    }
    const std::string lowerName = Lower(name);
    for (const SettingRename& rename : kSettingRenames) {
      if (section != rename.section || lowerName != rename.name) continue;
      if (rename.value && Lower(value) != rename.value) continue;
      const std::string before = "[" + section + "] " + name + "=" + value;
      if (!*rename.newName) {
        Note(before + " left out: " + rename.why);
        return;
      }
      std::string newValue = rename.newValue ? rename.newValue : value;
      if (section == "midi" && rename.newValue) windowsMidi_ = true;
      const std::string after = std::string(rename.newName) + "=" + newValue;
      Note(before + " -> " + after + ": " + rename.why);
      Emit(after, line.end);
      return;
    }
    // A MIDI port number counts Windows' MIDI outputs; the system's own
    // output takes no such number.
    if (section == "midi" && lowerName == "midiconfig" && IsDigits(value) && UsesWindowsMidi()) {
      Note("[midi] midiconfig=" + value + " -> midiconfig=: it numbers Windows' MIDI outputs");
      Emit("midiconfig=", line.end);
      return;
    }
    Emit(line.body, line.end);
  }

  bool UsesWindowsMidi() {
    if (windowsMidi_) return true;
    std::string section, name, value;
    for (const Line& line : lines_) {
      const std::string trimmed = Trim(line.body);
      if (!trimmed.empty() && trimmed[0] == '[' && trimmed.find(']') != std::string::npos) {
        section = Lower(Trim(trimmed.substr(1, trimmed.find(']') - 1)));
      } else if (section == "midi" && SplitSetting(line.body, name, value) &&
                 (Lower(name) == "device" || Lower(name) == "mididevice") && Lower(value) == "win32") {
        return windowsMidi_ = true;
      }
    }
    return false;
  }

  // The folder mount that holds host, preferring the one of the letter the
  // line names.
  const Mount* MountHolding(const std::string& host, char letter, std::vector<std::string>& parts) const {
    const Mount* best = nullptr;
    std::size_t bestLength = 0;
    for (const Mount& mount : mounts_) {
      if (mount.dropped || !mount.directory || mount.hostPaths.size() != 1 || mount.hostPaths[0].empty()) continue;
      std::vector<std::string> below;
      if (!ComponentsBelow(mount.hostPaths[0], host, below)) continue;
      const std::size_t length = WithoutClosingSlash(mount.hostPaths[0]).size() + (mount.letter == letter ? 100000 : 0);
      if (!best || length > bestLength) {
        best = &mount;
        bestLength = length;
        parts = below;
      }
    }
    return best;
  }

  // Returns whether the next command line names the program in that folder.
  bool TranslateCd(const std::string& trimmed, const std::string& end) {
    const std::string path = CdPath(trimmed);
    if (path.empty()) {
      Emit(trimmed, end);
      return false;
    }
    const char letter = UpperLetter(path[0]);
    const std::string host = Host(path);
    std::vector<std::string> parts;
    const Mount* mount = host.empty() ? nullptr : MountHolding(host, letter, parts);
    if (!mount) {
      if (moved_.count(letter)) {
        const std::string line = BatchEscaped("CD " + std::string(1, moved_[letter]) + path.substr(1));
        Note(trimmed + " -> " + line);
        Emit(line, end);
      } else {
        Emit(trimmed, end);
      }
      return false;
    }
    bool plain = true;
    std::string dosPath = std::string(1, mount->newLetter) + ":";
    for (const std::string& part : parts) {
      plain = plain && IsPlainDosName(part);
      dosPath += "\\" + Upper(part);
    }
    if (parts.empty()) dosPath += "\\";
    programFolder_ = path;
    if (plain && dosPath.size() <= kLongestDosPath) {
      const std::string line = BatchEscaped("CD " + dosPath);
      if (line != trimmed) Note(trimmed + " -> " + line);
      Emit(line, end);
      return true;
    }
    // DOSBox makes its own "~" names for these folders, and which one a folder
    // gets depends on its neighbours; a path too long for DOS cannot be
    // entered at all. Either way the folder itself becomes a drive.
    const char folderLetter = host.find('"') == std::string::npos ? TakeFreeLetter(used_) : 0;
    if (!folderLetter) {
      result_.failures.push_back("cannot reach " + host + " inside DOSBox (" + path + ")");
      Emit(trimmed, end);
      return false;
    }
    const std::string mountLine = BatchEscaped("mount " + std::string(1, folderLetter) + " " + Quoted(host));
    const std::string driveLine = std::string(1, folderLetter) + ":";
    Note(trimmed + " -> " + mountLine + " and " + driveLine + " (" + host +
         " has names that are not DOS names)");
    Emit(mountLine, end);
    Emit(driveLine, end);
    return true;
  }

  void TranslateProgram(const Line& line) {
    const std::string trimmed = Trim(line.body);
    const std::size_t blank = trimmed.find_first_of(" \t");
    const std::string name = BatchText(trimmed.substr(0, blank));
    const std::string rest = blank == std::string::npos ? std::string() : trimmed.substr(blank);
    const std::string host =
        name.find_first_of("\\:\"") == std::string::npos ? Host(programFolder_ + "\\" + name) : std::string();
    if (host.empty()) {
      Emit(line.body, line.end);
      return;
    }
    const std::string hostName = BaseName(host);
    const std::string dosName = IsPlainDosName(hostName) ? Upper(hostName) : DosBoxShortName(hostName);
    if (dosName != name) Note("program " + name + " -> " + dosName + " (host name " + hostName + ")");
    Emit(BatchEscaped(dosName) + rest, line.end);
  }

  std::vector<Line> lines_;
  HostPathFunction toHost_;
  std::vector<Mount> mounts_;
  std::map<std::size_t, std::size_t> mountLines_;  // line index -> mount
  std::set<char> used_;
  std::map<char, char> moved_;
  std::string programFolder_;  // the Windows folder of the last CD line
  bool windowsMidi_ = false;
  TranslatedConf result_;
};

bool IsPlainDosChar(char c) {
  if (std::isalnum(static_cast<unsigned char>(c))) return true;
  return c != 0 && std::strchr("!#$%&'()-@^_`{}", c) != nullptr;
}

}  // namespace

bool IsPlainDosName(const std::string& name) {
  const std::size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || extension.size() > 3) return false;
  if (dot != std::string::npos && extension.empty()) return false;
  for (char c : base + extension)
    if (!IsPlainDosChar(c)) return false;
  return true;
}

std::string DosBoxShortName(const std::string& hostName) {
  std::string name;
  for (char c : Upper(hostName))
    if (c != ' ') name += c;
  while (!name.empty() && name[0] == '.') name.erase(0, 1);
  const std::size_t dot = name.rfind('.');
  std::string base = name.substr(0, name.find('.'));
  const std::string extension = dot == std::string::npos || dot + 1 == name.size() ? std::string() : name.substr(dot, 4);
  if (base.size() > 6) base.resize(6);
  return base + "~1" + extension;
}

TranslatedConf TranslateConf(const std::string& text, HostPathFunction toHost) {
  return Translator(text, toHost).Run();
}
