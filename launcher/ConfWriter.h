// Turns a game entry into the configuration file DOSBox reads at start: the
// emulator settings under their section headers, then the "[autoexec]" lines
// that mount the drives and start the game or its installer.
#pragma once

#include <string>

#include "xml/Xml.h"

// Which attribute of Main names the program to start.
enum class LaunchMode { Run, Install };

// The short (8.3) form of an existing host path, or "" when there is none or
// it cannot be had. Passed in so that the writer can be tried anywhere.
using ShortPathFunction = std::string (*)(const std::string& path);

// The system's conversion: GetShortPathNameA on Windows; elsewhere no path has
// a short form.
std::string SystemShortPath(const std::string& path);

// Writes the configuration of entry to target (created or truncated). With no
// entry, the template of defrc.xml is used (the file is written first when it
// is missing). True only when the whole file, including the line that starts
// the program, reached the disk. False when target cannot be created, when a
// write fails, or when the program attribute of mode is empty; in the last
// case the file holds the settings, the mounts and the pre-commands.
// Reading the entry completes it: missing sections and attributes are added
// empty.
bool WriteDosBoxConf(XmlElement* entry, const std::string& target, LaunchMode mode,
                     ShortPathFunction shortPath = SystemShortPath);

// The same, telling a file that was written whole but has no program to
// start (an export of the default profile) from one that failed.
enum class ConfWritten { Whole, WithoutProgram, Failed };
ConfWritten WriteDosBoxConfFile(XmlElement* entry, const std::string& target, LaunchMode mode,
                                ShortPathFunction shortPath = SystemShortPath);
