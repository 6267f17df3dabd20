#include "launcher/ForeignAutoexec.h"
#include "launcher/ForeignText.h"

#include "launcher/ForeignDosBoxConf.h"

namespace {

char UpperLetter(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool EndsWithIgnoringCase(const std::string& text, const char* end) {
  const std::string tail(end);
  return text.size() >= tail.size() && SameTextIgnoringCase(text.substr(text.size() - tail.size()), tail);
}

// DOS's own commands: a line starting with one runs no program of the game.
bool IsShellCommand(const std::string& word) {
  static const char* const kCommands[] = {
      "set",   "echo",   "rem",    "cls",  "path",     "exit",    "pause", "if",    "goto",    "call", "for",
      "shift", "choice", "prompt", "type", "del",      "copy",    "ren",   "md",    "mkdir",   "rd",   "dir",
      "keyb",  "mixer",  "config", "lh",   "loadhigh", "loadfix", "boot",  "mount", "imgmount"};
  for (const char* command : kCommands)
    if (word == command) return true;
  return !word.empty() && word[0] == ':';
}

// Where "X:" and "cd" lines have left each drive.
struct DosState {
  char drive = 'C';
  std::string folders[26];  // per drive, "" for the root, names joined by "\"

  std::string& Folder(char letter) { return folders[UpperLetter(letter) - 'A']; }

  // Applies "cd" to rest (what follows the command); false when rest names
  // no folder change.
  bool ChangeFolder(std::string rest) {
    rest = Trimmed(rest);
    char letter = drive;
    if (rest.size() >= 2 && rest[1] == ':' && IsLetter(rest[0])) {
      letter = rest[0];
      rest.erase(0, 2);
    }
    if (rest.empty()) return false;
    std::string& folder = Folder(letter);
    if (rest[0] == '\\' || rest[0] == '/') folder.clear();
    std::size_t start = 0;
    while (start <= rest.size()) {
      std::size_t end = rest.find_first_of("\\/", start);
      if (end == std::string::npos) end = rest.size();
      const std::string name = rest.substr(start, end - start);
      if (name == "..") {
        const std::size_t cut = folder.find_last_of('\\');
        folder = cut == std::string::npos ? std::string() : folder.substr(0, cut);
      } else if (!name.empty() && name != ".") {
        folder += (folder.empty() ? "" : "\\") + name;
      }
      start = end + 1;
    }
    return true;
  }
};

// The host path of the program word names on the current drive, or "" when
// it names no program file there.
std::string ProgramHost(const std::string& word, const DosState& state, const ForeignGame& game, PathFinder& finder) {
  std::string written = word;
  char letter = state.drive;
  if (written.size() >= 2 && written[1] == ':' && IsLetter(written[0])) {
    letter = UpperLetter(written[0]);
    written.erase(0, 2);
  }
  const ForeignMount* drive = nullptr;
  for (const ForeignMount& mount : game.mounts)
    if (mount.letter == letter && !mount.host.empty() &&
        (mount.kind == ForeignMount::Folder || mount.kind == ForeignMount::CD || mount.kind == ForeignMount::Floppy))
      drive = &mount;
  if (!drive || written.empty()) return std::string();
  const std::string folder = written[0] == '\\' || written[0] == '/' ? std::string() : state.folders[letter - 'A'];
  const std::string relative = folder.empty() ? written : folder + "\\" + written;
  const bool hasExtension = NamePart(written).find('.') != std::string::npos;
  for (const char* extension : {"", ".com", ".exe", ".bat"}) {
    if (hasExtension != (*extension == '\0')) continue;
    const std::string candidate = relative + extension;
    if (!EndsWithIgnoringCase(candidate, ".exe") && !EndsWithIgnoringCase(candidate, ".com") &&
        !EndsWithIgnoringCase(candidate, ".bat"))
      continue;
    bool found = false;
    const std::string host = finder.Find(drive->host, candidate, &found);
    if (found && !finder.IsFolder(host)) return host;
  }
  return std::string();
}

struct Line {
  std::string text;
  bool mount = false;    // the entry mounts its drives itself
  bool dropped = false;  // a drive change or a "cd": the launch does those for the program
};

}  // namespace

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool ReadAutoexec(const std::vector<std::string>& written, const std::string& base, PathFinder& finder,
                  ForeignGame& game) {
  std::vector<Line> lines;
  DosState state;
  std::size_t program = std::string::npos;
  std::string host, parameters;
  for (const std::string& raw : written) {
    Line line;
    line.text = Trimmed(raw);
    std::string command = line.text;
    if (!command.empty() && command[0] == '@') command = Trimmed(command.substr(1));
    const std::size_t blank = command.find_first_of(" \t");
    const std::string word = command.substr(0, blank);
    const std::string rest = blank == std::string::npos ? std::string() : command.substr(blank + 1);
    const std::string lower = Lower(word);
    if (ReadMountCommand(command, base, finder, game)) {
      line.mount = true;
    } else if (word.size() == 2 && word[1] == ':' && IsLetter(word[0]) && rest.empty()) {
      state.drive = UpperLetter(word[0]);
      line.dropped = true;
    } else if (lower == "cd" || lower == "chdir") {
      line.dropped = state.ChangeFolder(rest);
    } else if (lower.compare(0, 3, "cd\\") == 0 || lower.compare(0, 3, "cd.") == 0) {
      line.dropped = state.ChangeFolder(command.substr(2));
    } else if (!word.empty() && !IsShellCommand(lower)) {
      const std::string found = ProgramHost(word, state, game, finder);
      if (!found.empty()) {
        program = lines.size();
        host = found;
        parameters = Trimmed(rest);
      }
    }
    lines.push_back(line);
  }

  if (program != std::string::npos) {
    game.program = host;
    game.parameters = parameters;
  }
  std::vector<std::string> before, after;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // Without a program the drive changes still say where the commands run.
    if (i == program || lines[i].text.empty() || lines[i].mount || (lines[i].dropped && program != std::string::npos))
      continue;
    (program == std::string::npos || i < program ? before : after).push_back(lines[i].text);
  }
  std::vector<std::string>& last = program == std::string::npos ? before : after;
  while (!last.empty() && (Lower(last.back()) == "exit" || Lower(last.back()) == "@exit")) last.pop_back();
  for (const std::string& line : before) game.preCommands += line + "\r\n";
  for (const std::string& line : after) game.postCommands += line + "\r\n";
  return program != std::string::npos;
}
