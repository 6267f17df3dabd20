#include "launcher/LaunchCheck.h"

#include <sys/stat.h>

#include <vector>

#include "launcher/DosSideCheck.h"
#include "launcher/GameSchema.h"
#include "launcher/LaunchPlan.h"

#ifdef _WIN32
#include <windows.h>

#include "text/TextConvert.h"
#endif

PathKind SystemPathKind(const std::string& path) {
  if (path.empty()) return PathKind::Missing;
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::Folder : PathKind::File;
#else
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return PathKind::Missing;
  return S_ISDIR(info.st_mode) ? PathKind::Folder : PathKind::File;
#endif
}

HostPathServices SystemHostPaths() { return HostPathServices{SystemShortPath, SystemConfText, SystemPathKind}; }

namespace {

bool HasControlCharacter(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  return false;
}

// The host path of DOS path program through the mount of its drive; "" when
// no folder mount provides it.
std::string HostPathOfProgram(const std::vector<GameMount>& mounts, const std::string& program) {
  if (program.size() < 2 || program[1] != ':') return std::string();
  for (const GameMount& mount : mounts) {
    if (MountLetter(mount.drive) != MountLetter(program.substr(0, 1))) continue;
    if (mount.image) return std::string();
    std::string rest;
    if (!ResolvedRest(program, rest)) return std::string();
    std::string folder = mount.local;
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return folder + rest;
  }
  return std::string();
}

LaunchProblem Problem(LaunchProblem::Kind kind, LaunchProblem::Role role, const std::string& path,
                      const std::string& drive = std::string()) {
  LaunchProblem problem;
  problem.kind = kind;
  problem.role = role;
  problem.path = path;
  problem.drive = drive;
  return problem;
}

}  // namespace

LaunchProblem CheckLaunch(XmlElement* entry, LaunchMode mode, const HostPathServices& host) {
  const std::vector<GameMount> mounts = WrittenMounts(entry);
  const LaunchProblem::Role programRole =
      mode == LaunchMode::Run ? LaunchProblem::Program : LaunchProblem::Installer;
  const std::string program = AttributeText(Section(entry, "Main"), mode == LaunchMode::Run ? "Run" : "Install");

  // Names that would end a DOS command line, whether they exist or not.
  for (const GameMount& mount : mounts) {
    const LaunchProblem::Role role = mount.image ? LaunchProblem::MountImage : LaunchProblem::MountFolder;
    if (HasControlCharacter(mount.local) || HasControlCharacter(mount.drive))
      return Problem(LaunchProblem::ControlCharacter, role, mount.local, mount.drive);
  }
  if (HasControlCharacter(program)) return Problem(LaunchProblem::ControlCharacter, programRole, program);

  for (const GameMount& mount : mounts) {
    const LaunchProblem::Role role = mount.image ? LaunchProblem::MountImage : LaunchProblem::MountFolder;
    const PathKind wanted = mount.image ? PathKind::File : PathKind::Folder;
    if (!host.kind || host.kind(mount.local) != wanted)
      return Problem(LaunchProblem::Missing, role, mount.local, mount.drive);
  }
  const char* commands = FirstCDataText(Section(entry, "Pre_Commands"));
  const std::string commandLetters = LettersMountedBy(std::string(commands ? commands : "") + "\n" +
                                                      LaunchParameters(entry));
  const LaunchProblem dosSide = CheckDosSide(mounts, commandLetters, program, programRole, host.kind);
  if (dosSide.kind != LaunchProblem::None) return dosSide;

  const std::string programOnHost = HostPathOfProgram(mounts, program);
  if (!programOnHost.empty() && (!host.kind || host.kind(programOnHost) != PathKind::File))
    return Problem(LaunchProblem::Missing, programRole, programOnHost);

  std::string written;
  for (const GameMount& mount : mounts) {
    if (!ConfPathText(mount.local, host.shortPath, host.confText, written))
      return Problem(LaunchProblem::NoConfName, mount.image ? LaunchProblem::MountImage : LaunchProblem::MountFolder,
                     mount.local, mount.drive);
  }
  if (!ConfPathText(program, host.shortPath, host.confText, written))
    return Problem(LaunchProblem::NoConfName, programRole, program);
  return LaunchProblem();
}

std::string GameFolder(XmlElement* entry, LaunchMode mode) {
  const std::string program = AttributeText(Section(entry, "Main"), mode == LaunchMode::Run ? "Run" : "Install");
  const std::string host = HostPathOfProgram(WrittenMounts(entry), program);
  const std::size_t separator = host.find_last_of("\\/");
  if (separator == std::string::npos) return std::string();
  // A drive's root keeps its separator ("C:\\").
  return host.substr(0, separator == 2 && host[1] == ':' ? 3 : separator);
}

namespace {

// The path as the message shows it: control characters, which would break
// the message's own lines, are named.
std::string Shown(const std::string& path) {
  std::string shown;
  for (char c : path) {
    if (c == '\n' || c == '\r')
      shown += "[line break]";
    else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      shown += "[control character]";
    else
      shown += c;
  }
  return shown;
}

std::string WhatItIs(const LaunchProblem& problem) {
  switch (problem.role) {
    case LaunchProblem::Program:
      return "The program of this game";
    case LaunchProblem::Installer:
      return "The installer of this game";
    case LaunchProblem::MountFolder:
      return "The folder this game mounts as drive " + Shown(problem.drive) + ":";
    case LaunchProblem::MountImage:
      return "The image this game mounts as drive " + Shown(problem.drive) + ":";
    case LaunchProblem::Engine:
      return "The DOSBox this game runs on (" + Shown(problem.detail) + ")";
  }
  return "A path of this game";
}

}  // namespace

std::string LaunchProblemText(const LaunchProblem& problem, bool offerSettings) {
  std::string text;
  switch (problem.kind) {
    case LaunchProblem::None:
      return std::string();
    case LaunchProblem::Missing:
      text = WhatItIs(problem) + " cannot be found:\n\n" + Shown(problem.path) +
             "\n\nIt may have been moved or deleted, or its drive is not connected.";
      break;
    case LaunchProblem::ControlCharacter:
      text = WhatItIs(problem) + " has a name that DOS cannot carry (it holds a line break or another control "
             "character):\n\n" + Shown(problem.path) + "\n\nRename the folder or file on disk.";
      break;
    case LaunchProblem::NoConfName:
      text = WhatItIs(problem) + " has letters that DOSBox cannot read on this system, and no short (8.3) name "
             "to use instead:\n\n" + Shown(problem.path) + "\n\nRename it, or move the game to a folder whose "
             "name uses plain letters.";
      break;
    case LaunchProblem::NotADrive:
      text = "A mount of this game names no drive letter DOSBox can use (\"" + Shown(problem.drive) +
             "\"):\n\n" + Shown(problem.path) + "\n\nUnder Mount, give it a letter from A to Y.";
      break;
    case LaunchProblem::DriveTaken:
      text = "Drive " + Shown(problem.drive) + ": is mounted twice by this game:\n\n" + Shown(problem.detail) + "\n" +
             Shown(problem.path) +
             "\n\nDOSBox refuses the second mount. Under Mount, give each mount a letter of its own.";
      break;
    case LaunchProblem::DriveNotMounted:
      text = WhatItIs(problem) + " is on drive " + Shown(problem.drive) + ":, which none of its mounts gives:\n\n" +
             Shown(problem.path) + "\n\nThe game's Mount settings give: " + Shown(problem.detail) +
             ".\n\nAdd a mount for drive " + Shown(problem.drive) + ": under Mount, or correct the path.";
      break;
    case LaunchProblem::EngineUnknown:
      text = "This game runs on a DOSBox called \"" + Shown(problem.path) +
             "\", which the list of DOSBox installations (Options) does not hold.\n\nChoose another as the "
             "game's Engine (under Main), or add it to the list.";
      break;
    case LaunchProblem::OutsideMount:
      text = WhatItIs(problem) + " lies outside the folder its drive " + Shown(problem.drive) +
             ": is mounted from:\n\n" + Shown(problem.path) + "\n\nUnder Mount, drive " + Shown(problem.drive) +
             ": is the folder " + Shown(problem.detail) +
             (problem.suggestion.empty() ? std::string()
                                         : "; inside DOSBox this file is " + Shown(problem.suggestion)) +
             ".\n\nCorrect the path, or mount the folder that holds it.";
      break;
  }
  text += "\n\nDOSBox was not started.";
  if (offerSettings) text += "\n\nOpen the game's settings?";
  return text;
}
