// What the bridge hands the host's DOSBox, apart from the configuration
// itself: where DOSBox is looked for, how the command line is quoted, and how
// the bridge tells that DOSBox has read the file made for it.
#pragma once

#include <string>
#include <vector>

#include "launcher/EngineKinds.h"

// Host places where a packaged DOSBox lies, in the order they are tried
// (after the VANTLE_HOST_DOSBOX environment variable).
const std::vector<std::string>& HostDosBoxCandidates();

// The kind of host engine a copy of the bridge stands for, by its own file
// name: "DOSBox-X.exe" for DOSBox-X, "DOSBox Staging.exe" or
// "dosbox-staging.exe" for Staging; DOSBOX.EXE, and any other name, for 0.74.
// An engine of the list points at such a copy, so that the bridge learns the
// game's kind from the program Vantle starts.
EngineKind BridgeKind(const std::string& ownPath);

// What the bridge prints for "-version": the kind it stands for, in the
// words that engine uses ("DOSBox-X version ..."), so that the kind is told
// from it as from the real program.
std::string BridgeVersionText(EngineKind kind);

// The DOSBox-X of the private root that scripts/setup.sh makes, run through
// that root's own loader.
constexpr const char kPrivateDosBoxX[] = "/var/cache/vantle/dosbox-x-trixie.run-dosbox-x";

// The host places of an engine of kind, in the order they are tried, and the
// environment variable that names one instead (and only that one).
std::vector<std::string> HostEngineCandidates(EngineKind kind);
const char* HostEngineVariable(EngineKind kind);

// One argument as the usual Windows rules (which Wine follows when it starts a
// host program) give it back unchanged: bare when it holds no blank, tab or
// quote, otherwise quoted.
std::string CommandLineArgument(const std::string& argument);

// The indices of the arguments that follow a "-conf" (DOSBox accepts the
// option more than once, in any case).
std::vector<std::size_t> ConfArgumentIndices(const std::vector<std::string>& arguments);

// Removes the switches with which DOSBox starts or changes things on the host
// outside the game: -editconf and -opencaptures start the program that
// follows them, -eraseconf, -resetconf, -erasemapper and -resetmapper delete
// the user's files. DOSBox finds them anywhere on its command line and in any
// case, so they are removed wherever they are. Returns one line per removal,
// for the log.
std::vector<std::string> DropHostSwitches(std::vector<std::string>& arguments);

// Whether DOSBox's output (of any kind) says that it has loaded the
// configuration file at hostPath.
bool DosBoxHasReadConf(const std::string& output, const std::string& hostPath);

// The shell script through which the bridge starts the host's DOSBox, since
// Wine gives a Windows program no handle to wait on a host program. Its
// arguments: the log that DOSBox's output is appended to, the run file, then
// the program and its arguments. It writes "started <shell pid> <program
// pid>" to the run file at once and "ended <exit status>" once the program
// has ended, each line appended whole.
const char* HostRunScript();

// What the run file says so far. A line without its line end is not read
// yet; a started line with a pid that is no number counts as none.
struct HostRun {
  bool started = false;
  long shellPid = 0;
  long programPid = 0;
  bool ended = false;
  int exitStatus = 0;
};
HostRun ReadHostRun(const std::string& runFile);
