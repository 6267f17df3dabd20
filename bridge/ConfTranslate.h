// Turns a configuration written for DOSBox on Windows into one the host's
// DOSBox reads under Wine: Windows paths in mount lines become host paths,
// a drive mounted as Z: (Wine's letter for the host's root, and DOSBox's own
// drive) moves to a free letter, the directory and program lines follow the
// names DOSBox gives the folders, and settings named after an older DOSBox get
// the names of the one that runs.
#pragma once

#include <string>
#include <vector>

// The host path of a Windows path ("" when it has none). Wine's short names
// must be understood: "Z:\tmp\X_Y~~R0B" is as good as "Z:\tmp\x y".
using HostPathFunction = std::string (*)(const std::string& windowsPath);

struct TranslatedConf {
  std::string text;
  // What was changed and why, one entry per change, for the log.
  std::vector<std::string> notes;
  // Paths the host's DOSBox could not be handed (no host path, a host path
  // with a double quote, a folder DOS cannot reach): DOSBox must not start.
  std::vector<std::string> failures;
};

// The host's root is never mounted: a drive that Wine maps to it (Z:) becomes
// the narrowest host folder that holds every folder the CD lines name, and
// those lines follow. The "%" of batch lines is read doubled, as the writer
// doubles it, and written doubled.
//
// The whole file in, the whole file out. Line ends are kept as they come;
// lines that need no change are copied byte for byte.
TranslatedConf TranslateConf(const std::string& text, HostPathFunction toHost);

// Whether DOSBox shows name (one path component) unchanged: a valid 8.3 name
// of plain characters that it would not replace by a "~" form.
bool IsPlainDosName(const std::string& name);

// The name DOSBox is expected to give a file whose host name is not a plain
// DOS name, when no other name in its folder competes for the same form:
// "Keen Game.exe" becomes "KEENGA~1.EXE".
std::string DosBoxShortName(const std::string& hostName);
