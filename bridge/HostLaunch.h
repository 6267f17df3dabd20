// What the bridge hands the host's DOSBox, apart from the configuration
// itself: where DOSBox is looked for, how the command line is quoted, and how
// the bridge tells that DOSBox has read the file made for it.
#pragma once

#include <string>
#include <vector>

// Host places where a packaged DOSBox lies, in the order they are tried
// (after the VANTLE_HOST_DOSBOX environment variable).
const std::vector<std::string>& HostDosBoxCandidates();

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

// Whether DOSBox's output says that it has loaded the configuration file at
// hostPath.
bool DosBoxHasReadConf(const std::string& output, const std::string& hostPath);
