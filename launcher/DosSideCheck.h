// The DOS side of a launch: the drives the game's mounts give inside DOSBox,
// and whether the path the written configuration changes to and starts
// meets one of them, as DOSBox will resolve it. A program on a drive nothing
// mounts, one that lies outside the folder its drive is mounted from, or a
// letter mounted twice would make DOSBox print an error on its own screen
// and sit at a prompt; here the launch stops and says which path and which
// mount do not meet.
#pragma once

#include <string>
#include <vector>

#include "launcher/LaunchCheck.h"
#include "xml/Xml.h"

// A mount the configuration writes (a child of Mount with a type).
struct GameMount {
  std::string drive;  // as stored ("C" or "C:")
  std::string local;  // the host path, without the quotes a user may have put around it
  bool image = false;
};
std::vector<GameMount> WrittenMounts(XmlElement* entry);

// The drive letter of a mount's stored drive ("C", "c:"), upper case; 0 for
// anything DOSBox would not take as a letter.
char MountLetter(const std::string& drive);

// The part of DOS path program ("C:\GAMES\..\KEEN\K.EXE") after its drive
// as DOSBox resolves it ("KEEN\K.EXE"): "." dropped, ".." taking back a
// folder. False when ".." would leave the root of the drive.
bool ResolvedRest(const std::string& program, std::string& rest);

// The letters that lines of text mount ("mount d ...", "@imgmount E ..."),
// for the pre-commands and the command-line parameters, which may mount
// drives of their own.
std::string LettersMountedBy(const std::string& text);

// The first way the DOS side does not meet, or none. program is the DOS path
// the launch runs (role says whether it is the program or the installer);
// extraLetters are drives mounted by commands, which count as given but
// cannot be looked into. kind tells what a host path names.
LaunchProblem CheckDosSide(const std::vector<GameMount>& mounts, const std::string& extraLetters,
                           const std::string& program, LaunchProblem::Role role, PathKindFunction kind);
