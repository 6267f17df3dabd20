// The DOSBox installations the user has listed (Options), each a name, the
// path of its program and its kind, and the one new games choose. The list
// lives in "engines.xml" beside defrc.xml and is saved through a temporary
// file that replaces the old one. A game names its engine in the Engine
// attribute of its Main element; an empty or absent name means DOSBOX.EXE
// beside vtl64.exe, run exactly as ever.
#pragma once

#include <string>
#include <vector>

#include "launcher/EngineKinds.h"
#include "launcher/LaunchCheck.h"
#include "xml/Xml.h"

struct Engine {
  std::string name;
  std::string program;  // host path (UTF-8)
  EngineKind kind = EngineKind::Classic;
};

struct EngineList {
  std::vector<Engine> engines;
  std::string defaultName;  // the engine new games choose; "" for DOSBOX.EXE beside the program
};

// "<ProfileFolder>\engines.xml".
std::string EngineListPath();

// The list in path; an empty list when the file is missing or cannot be read.
// Entries without a name or program are skipped, and so is a second entry
// of a name (names are compared without regard to case).
EngineList ReadEngineList(const std::string& path);

// Writes list to path atomically; false when any step failed (the old file
// is then intact).
bool SaveEngineList(const EngineList& list, const std::string& path);

// The engine called name (without regard to case), or null.
const Engine* FindEngine(const EngineList& list, const std::string& name);

// The name of the engine entry chooses; "" when it chooses none. Only looked
// up: an entry without the attribute is not changed.
std::string ChosenEngineName(XmlElement* entry);

// The engine a launch of entry starts: none (the DOSBOX.EXE beside the
// program, builtIn), or the listed engine it names. problem tells a name
// that is not listed, or an engine whose program is gone.
struct EngineChoice {
  bool builtIn = true;
  Engine engine;
  LaunchProblem problem;
};
EngineChoice ChooseEngine(XmlElement* entry, const EngineList& list, PathKindFunction kind);

// Puts engine into list at index (an engine changed: renamed, another program
// or kind) or, for index -1, at the end. The reason, for the user, when it is
// refused (nothing changes then): no name, no program, or the name of
// another engine. A renamed default stays the default.
std::string PutEngine(EngineList& list, int index, const Engine& engine);

// Removes the engine at index; when it was the default, new games choose the
// DOSBOX.EXE beside the program again.
void RemoveEngine(EngineList& list, int index);

// Gives every game under games that chooses the engine called from (without
// regard to case) the name to instead: what a rename in the list does to the
// library, so that no game loses its engine. Returns how many games changed.
int RenameChosenEngine(XmlElement* games, const std::string& from, const std::string& to);

// The list line of an engine: "Staging (Staging, default)".
std::string EngineLine(const EngineList& list, int index);
