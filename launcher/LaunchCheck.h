// What must hold on the host before DOSBox is started for a game: every path
// the configuration hands over exists, DOS can carry its name, and DOSBox can
// open it by a name written in its configuration. A launch that would fail
// inside DOSBox is stopped here, where Vantle can say why.
#pragma once

#include <string>

#include "launcher/ConfWriter.h"
#include "xml/Xml.h"

enum class PathKind { Missing, File, Folder };

// What a host path (UTF-8) names now.
using PathKindFunction = PathKind (*)(const std::string& path);
PathKind SystemPathKind(const std::string& path);

// The system calls the check and the writer need, passed in so that both can
// be tried without the system.
struct HostPathServices {
  ShortPathFunction shortPath;
  ConfTextFunction confText;
  PathKindFunction kind;
};
HostPathServices SystemHostPaths();

struct LaunchProblem {
  enum Kind {
    None,
    Missing,           // the path names nothing on the host
    ControlCharacter,  // a line break or the like, which would end the DOS command
    NoConfName,        // DOSBox could open it by no name its configuration can hold
    // The DOS side (DosSideCheck.h):
    NotADrive,        // a mount's drive is no letter DOSBox takes
    DriveTaken,       // a mount's letter is taken already (detail: by what)
    DriveNotMounted,  // the program's drive is given by no mount (detail: what the mounts give)
    OutsideMount,     // the program lies outside the folder its drive is mounted from (detail: that folder)
    EngineUnknown,    // the game names a DOSBox the engine list does not hold (path: the name)
  };
  // Engine: the DOSBox the game chose (detail: its name).
  enum Role { Program, Installer, MountFolder, MountImage, Engine };
  Kind kind = None;
  Role role = Program;
  std::string path;  // as stored
  std::string drive;  // the DOS drive of a mount ("C"), or the program's
  std::string detail;      // the mount the path does not meet, as the message names it
  std::string suggestion;  // the DOS path that would meet it, where one does
};

// The first problem of the paths the launch in mode uses: each mount's host
// folder or image and its drive, and the program (mode's Main attribute).
// The program's drive must be given by a mount (or by a mount command of the
// pre-commands or parameters, which are taken on trust), and the program is
// looked for on the host through the mount of its drive; a program on an
// image is left to DOSBox.
LaunchProblem CheckLaunch(XmlElement* entry, LaunchMode mode, const HostPathServices& host);

// The message that tells the user. offerSettings adds the question whether
// to open the game's settings (answered with Yes or No).
std::string LaunchProblemText(const LaunchProblem& problem, bool offerSettings);

// The host folder that holds the program the launch in mode runs, found
// through the mount of its drive: DOSBox's working folder, so that relative
// paths in its configuration resolve where users expect. "" when no folder
// mount gives the program (an image, a drive mounted by a command).
std::string GameFolder(XmlElement* entry, LaunchMode mode);
