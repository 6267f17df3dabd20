// The kinds of DOSBox a game can run on, and what sets them apart for the
// launcher: the names their configuration files give the template's
// settings, and the switches that keep their own configuration files from
// overriding the one written for the game.
#pragma once

#include <string>

enum class EngineKind {
  Classic,  // DOSBox 0.74 and the forks that read its configuration
  Staging,  // DOSBox Staging
  DosBoxX,  // DOSBox-X
};

// "0.74", "Staging", "DOSBox-X": as the engine list stores the kind and the
// Options window shows it.
const char* EngineKindName(EngineKind kind);
// The kind a stored name stands for (without regard to case); false for
// anything else.
bool ParseEngineKind(const std::string& name, EngineKind& kind);

// The kind a program describes itself as, in its version resource (product
// name, file description) or in what it prints for --version: "DOSBox
// Staging" or "dosbox-staging", "DOSBox-X"; anything else is taken for 0.74.
EngineKind EngineKindFromDescription(const std::string& text);

// The kind a program's answer to "-version" tells, when it answers as a
// DOSBox does ("DOSBox version 0.74-3", "DOSBox-X version 2025.02.01",
// "dosbox-staging, version 0.81.0"); false for any other output, so that a
// program that is no DOSBox is not taken for 0.74.
bool EngineKindFromVersionOutput(const std::string& output, EngineKind& kind);

// One setting of the written file on its way to an engine of kind: section
// (without brackets) and name may change, and the value. False when the kind
// has no place for it and it is left out; why says what happened, for a
// change ("" when nothing changed). Settings the table does not name pass
// unchanged.
bool TranslateSetting(EngineKind kind, std::string& section, std::string& name, std::string& value,
                      std::string* why = nullptr);

// The switches that go before the game's own parameters: for Staging those
// that load neither its primary nor a local configuration file. Empty, or
// ending in a blank.
std::string EngineSwitches(EngineKind kind);

// A configuration as the writer makes it (settings under their headers, then
// [autoexec]) with every setting passed through TranslateSetting for kind.
// Settings moved to a section the file does not have go under a new header
// of that name, before [autoexec]; lines that are no setting, and the whole
// [autoexec] section, stay exactly as they are.
std::string ConfForEngine(const std::string& conf, EngineKind kind);
