// Building a new game from the answers of the new game wizard: a copy of the
// default profile's template with the name, category, paths and the mounts
// that make those host paths valid inside DOSBox.
#pragma once

#include <memory>
#include <string>

#include "xml/Xml.h"

// How the game reaches the emulator.
enum class MountMode { Disk, CD, Floppy, Manual };

// A preset executable (the -run mode) always means Disk; otherwise the
// checked radio button decides, and none of the first three means Manual.
MountMode DecideMountMode(bool preset, bool onDisk, bool cd, bool floppy);

// The drive letter of path in upper case ('\0' when path does not start with
// a letter, as network paths do not).
char DriveLetterOf(const std::string& path);

struct NewGameAnswers {
  std::string name, description, category;  // UTF-8
  MountMode mode = MountMode::CD;
  std::string installer;   // empty when none was chosen
  std::string executable;  // empty when none was chosen
  char systemDrive = 'C';  // the drive of the Windows folder
};

// The start tag of one mount element: the attributes type, __type, iso,
// __iso, local, remote and __remote in this order.
std::string MountStartTag(const char* type, const std::string& local, const std::string& remote);

// A copy of templateEntry with Main's Name, Description, Category, Install and
// Run set and the mode's mounts appended to Mount:
//   Disk:   the executable's drive (the system drive without one) as the same
//           letter (D without an executable);
//   Floppy: the system drive as C and the installer's drive (A without one) as
//           a floppy of the same letter;
//   CD:     the system drive as C and the installer's drive (D without one) as
//           a CD-ROM of the same letter;
//   Manual: six empty mount slots.
std::unique_ptr<XmlElement> MakeNewGameEntry(const XmlElement& templateEntry,
                                             const NewGameAnswers& answers);
