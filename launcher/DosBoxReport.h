// What DOSBox reported about a launch, read after it ended: DOSBox 0.74 (and
// DOSBox-X, which kept its wording) prints a setting it does not accept as
//   "vgax" is not a valid value for variable: machine.
//   It might now be reset it to default value: svga_s3
// to stdout.txt beside itself (or, under Wine, to the bridge's DOSBOX.log).
// Each such report is told with the game's setting it points to; a run
// that reported nothing tells nothing.
#pragma once

#include <string>
#include <vector>

#include "xml/Xml.h"

// The reports in output, one text each, naming the section element of entry
// that holds the setting ("Screen: output = \"bogus\"") where one does.
std::vector<std::string> DosBoxReports(const std::string& output, XmlElement* entry);
