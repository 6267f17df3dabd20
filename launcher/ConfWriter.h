// Turns a game entry into the configuration file DOSBox reads at start: the
// emulator settings under their section headers, then the "[autoexec]" lines
// that mount the drives and start the game or its installer.
//
// Encoding: the library holds UTF-8, but the DOSBox of Windows reads its
// configuration in the system's ANSI code page, and so does the Wine bridge.
// Every line is written in that code page; a host path that it cannot hold is
// written by its short (8.3) name, which it can. ConfPathText is the one place
// that decides this.
#pragma once

#include <string>

#include "xml/Xml.h"

// Which attribute of Main names the program to start.
enum class LaunchMode { Run, Install };

// The short (8.3) form of an existing host path, or "" when there is none or
// it cannot be had; UTF-8 in and out. Passed in so that the writer can be
// tried anywhere.
using ShortPathFunction = std::string (*)(const std::string& path);

// The system's conversion: GetShortPathNameW on Windows; elsewhere no path
// has a short form.
std::string SystemShortPath(const std::string& path);

// UTF-8 text in the code page DOSBox reads its configuration in; false when
// that code page cannot hold every character.
using ConfTextFunction = bool (*)(const std::string& text, std::string& confText);

// The ANSI code page on Windows; elsewhere DOSBox reads UTF-8 as it is.
bool SystemConfText(const std::string& text, std::string& confText);

// How host path (UTF-8) is written into the configuration: its short form
// when it has one, otherwise itself, in the configuration's code page; the
// other of the two when the code page cannot hold the first. False when it
// holds neither: DOSBox could not open the path by any name written there.
bool ConfPathText(const std::string& path, ShortPathFunction shortPath, ConfTextFunction confText,
                  std::string& written);

// "%" doubled: DOSBox runs [autoexec] as a batch file, which reads "%" as
// the start of a variable ("50%off" would lose its "%").
std::string BatchEscaped(const std::string& text);

// The configuration of entry, as the bytes of the file. A game whose Main
// has KeepOpen="yes" keeps DOSBox open after it: lines of its post-commands
// that would close DOSBox ("exit") are left out. With no entry, the
// template of defrc.xml is used (the file is written first when it is
// missing). True when it is complete, including the line that starts the
// program; false when the program attribute of mode is empty, and then text
// holds the settings, the mounts and the pre-commands. Reading the entry
// completes it: missing sections and attributes are added empty.
bool MakeDosBoxConf(XmlElement* entry, LaunchMode mode, std::string& text,
                    ShortPathFunction shortPath = SystemShortPath, ConfTextFunction confText = SystemConfText);

// MakeDosBoxConf written to target (created or truncated). True only when the
// whole file reached the disk; false when target cannot be created, when a
// write fails, or when the configuration is not complete (the partial file
// then stays).
bool WriteDosBoxConf(XmlElement* entry, const std::string& target, LaunchMode mode,
                     ShortPathFunction shortPath = SystemShortPath, ConfTextFunction confText = SystemConfText);

// The same, telling a file that was written whole but has no program to
// start (an export of the default profile) from one that failed.
enum class ConfWritten { Whole, WithoutProgram, Failed };
ConfWritten WriteDosBoxConfFile(XmlElement* entry, const std::string& target, LaunchMode mode,
                                ShortPathFunction shortPath = SystemShortPath,
                                ConfTextFunction confText = SystemConfText);
