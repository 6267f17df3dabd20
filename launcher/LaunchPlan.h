// What a launch of DOSBox is made of, apart from starting it: the game's extra
// parameters, the configuration written for the launch, and the command lines.
#pragma once

#include <string>
#include <vector>

#include "launcher/ConfWriter.h"
#include "launcher/EngineList.h"
#include "launcher/LaunchCheck.h"
#include "xml/Xml.h"

// text cut at every occurrence of separator, in order, without empty pieces.
std::vector<std::string> SplitText(const char* text, const char* separator);

// The game's extra DOSBox parameters: the lines of the first CDATA section of
// Command_Line_Parameters, each followed by one blank. Lines shorter than two
// characters and comment lines starting with "//" are left out. The element is
// only looked up, never added.
std::string LaunchParameters(XmlElement* entry);

// Writes the launch configuration of entry to target. A game whose program is
// not known yet (Run empty) runs its installer instead. False when no complete
// file could be written.
bool WriteLaunchConf(XmlElement* entry, const std::string& target, LaunchMode mode,
                     ShortPathFunction shortPath = SystemShortPath);

// A launch made ready: the configuration's bytes for the mode that runs (a
// game whose program is not known yet runs its installer), and what stands
// in the way of starting it.
// With engines, the game's chosen engine is looked up there (a game that
// chooses none runs on the DOSBOX.EXE beside the program, with the file as
// ever), and the file is written for that engine's kind.
struct PreparedLaunch {
  bool complete = false;  // false: neither program is known, nothing can start
  LaunchMode mode = LaunchMode::Run;
  std::string conf;
  LaunchProblem problem;
  EngineChoice engine;
  std::string folder;  // DOSBox's working folder (GameFolder); "" for the launcher's own
};
PreparedLaunch PrepareLaunch(XmlElement* entry, LaunchMode mode, const HostPathServices& host,
                             const EngineList* engines = nullptr);

// The name of a temporary file for number (1 to 0xFFFF), as the system
// makes them: prefix ("woa" for a launch's configuration), the number in
// hexadecimal digits, ".tmp".
std::string TempFileName(const char* prefix, unsigned number);

// "\"<programFolder>\DOSBOX.EXE\" <parameters> -conf \"<conf>\"". The program
// path is quoted so that a folder with blanks ("C:\Program Files\...") can
// never start "C:\Program.exe" instead.
std::string GameLaunchCommandLine(const std::string& programFolder, const std::string& parameters,
                                  const std::string& confPath);

// "\"<program>\" <switches><parameters> -conf \"<conf>\"": a listed engine,
// with the switches of its kind.
std::string EngineLaunchCommandLine(const std::string& program, const std::string& switches,
                                    const std::string& parameters, const std::string& confPath);

// "\"<programFolder>\DOSBOX.EXE\" -conf \"<conf>\"".
std::string ConfCommandLine(const std::string& programFolder, const std::string& confPath);
