#include "launcher/DosSideCheck.h"

#include "launcher/GameSchema.h"

namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// DOSBox's own drive, which holds its commands; nothing else may be mounted
// there.
constexpr char kDosBoxDrive = 'Z';

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& start) {
  if (text.size() < start.size()) return false;
  for (std::size_t i = 0; i < start.size(); ++i) {
    const char a = text[i] == '/' ? '\\' : UpperAscii(text[i]);
    const char b = start[i] == '/' ? '\\' : UpperAscii(start[i]);
    if (a != b) return false;
  }
  return true;
}

}  // namespace

bool ResolvedRest(const std::string& program, std::string& rest) {
  std::vector<std::string> parts;
  std::string part;
  for (std::size_t i = 2; i <= program.size(); ++i) {
    if (i == program.size() || program[i] == '\\' || program[i] == '/') {
      if (part == "..") {
        if (parts.empty()) return false;
        parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += program[i];
    }
  }
  rest.clear();
  for (const std::string& p : parts) rest += (rest.empty() ? "" : "\\") + p;
  return true;
}

namespace {

// "C: (the folder C:\GAMES), D: (the image D:\X.ISO)": what the game's mounts
// give, for the message.
std::string MountsGiven(const std::vector<GameMount>& mounts, const std::string& extraLetters) {
  std::string given;
  for (const GameMount& mount : mounts) {
    if (!given.empty()) given += ", ";
    given += std::string(1, MountLetter(mount.drive)) + ": (" + (mount.image ? "the image " : "the folder ") +
             mount.local + ")";
  }
  for (char letter : extraLetters) given += (given.empty() ? "" : ", ") + std::string(1, letter) + ": (by a command)";
  return given.empty() ? "none" : given;
}

LaunchProblem Problem(LaunchProblem::Kind kind, LaunchProblem::Role role, const std::string& path,
                      const std::string& drive, const std::string& detail) {
  LaunchProblem problem;
  problem.kind = kind;
  problem.role = role;
  problem.path = path;
  problem.drive = drive;
  problem.detail = detail;
  return problem;
}

LaunchProblem::Role RoleOf(const GameMount& mount) {
  return mount.image ? LaunchProblem::MountImage : LaunchProblem::MountFolder;
}

}  // namespace

std::vector<GameMount> WrittenMounts(XmlElement* entry) {
  std::vector<GameMount> mounts;
  XmlElement* mountSection = Section(entry, "Mount");
  for (unsigned i = 0; i < mountSection->GetChildCount(); ++i) {
    XmlElement* mount = mountSection->GetChildren()[i];
    if (AttributeText(mount, "type").empty()) continue;  // written nowhere
    GameMount written;
    written.drive = AttributeText(mount, "remote");
    written.local = Unquoted(AttributeText(mount, "local"));
    written.image = EqualIgnoringCase(AttributeText(mount, "iso").c_str(), "yes");
    mounts.push_back(written);
  }
  return mounts;
}

char MountLetter(const std::string& drive) {
  if (drive.empty() || !IsLetter(drive[0])) return 0;
  if (drive.size() > 2 || (drive.size() == 2 && drive[1] != ':')) return 0;
  return UpperAscii(drive[0]);
}

std::string LettersMountedBy(const std::string& text) {
  std::string letters;
  std::size_t at = 0;
  while (at < text.size()) {
    // One word at a time; a command may follow "@" or a quote ("-c \"mount d ...\"").
    while (at < text.size() && IsBlank(text[at])) ++at;
    std::size_t end = at;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    std::string word = text.substr(at, end - at);
    while (!word.empty() && (word[0] == '@' || word[0] == '"')) word.erase(0, 1);
    at = end;
    if (!EqualIgnoringCase(word.c_str(), "mount") && !EqualIgnoringCase(word.c_str(), "imgmount")) continue;
    while (at < text.size() && IsBlank(text[at])) ++at;
    end = at;
    while (end < text.size() && !IsBlank(text[end]) && text[end] != '"') ++end;
    const char letter = MountLetter(text.substr(at, end - at));
    if (letter && letters.find(letter) == std::string::npos) letters += letter;
  }
  return letters;
}

LaunchProblem CheckDosSide(const std::vector<GameMount>& mounts, const std::string& extraLetters,
                           const std::string& program, LaunchProblem::Role role, PathKindFunction kind) {
  // Each mount needs a letter of its own: DOSBox refuses a second mount of a
  // drive. (A mount on Z:, DOSBox's own drive, is how a Wine system names its
  // root; the bridge moves it to a free letter, so it passes here.)
  for (std::size_t i = 0; i < mounts.size(); ++i) {
    const char letter = MountLetter(mounts[i].drive);
    if (!letter) return Problem(LaunchProblem::NotADrive, RoleOf(mounts[i]), mounts[i].local, mounts[i].drive, "");
    for (std::size_t j = 0; j < i; ++j)
      if (MountLetter(mounts[j].drive) == letter)
        return Problem(LaunchProblem::DriveTaken, RoleOf(mounts[i]), mounts[i].local, std::string(1, letter),
                       mounts[j].local);
  }

  // A program without a drive runs wherever the commands before it left
  // DOS; nothing here knows where that is.
  if (program.size() < 2 || program[1] != ':' || !IsLetter(program[0])) return LaunchProblem();
  const char letter = UpperAscii(program[0]);
  if (extraLetters.find(letter) != std::string::npos) return LaunchProblem();
  const GameMount* drive = nullptr;
  for (const GameMount& mount : mounts)
    if (MountLetter(mount.drive) == letter) drive = &mount;
  if (!drive && letter == kDosBoxDrive) return LaunchProblem();
  if (!drive)
    return Problem(LaunchProblem::DriveNotMounted, role, program, std::string(1, letter),
                   MountsGiven(mounts, extraLetters));
  if (drive->image) return LaunchProblem();  // what an image holds is DOSBox's to see

  std::string rest;
  const std::string folder = WithSeparator(drive->local);
  if (!ResolvedRest(program, rest))
    return Problem(LaunchProblem::OutsideMount, role, program, std::string(1, letter), drive->local);
  // A path of this computer stored where a DOS path belongs: it names an
  // existing file, but through the mount it leads elsewhere.
  if (kind && kind(folder + rest) != PathKind::File && kind(program) == PathKind::File) {
    std::string inside;
    if (StartsWithIgnoringCase(program, folder)) inside = std::string(1, letter) + ":\\" + program.substr(folder.size());
    LaunchProblem problem =
        Problem(LaunchProblem::OutsideMount, role, program, std::string(1, letter), drive->local);
    problem.suggestion = inside;
    return problem;
  }
  return LaunchProblem();
}
