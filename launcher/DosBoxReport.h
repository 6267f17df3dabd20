// What DOSBox reported about a launch, read after it ended: DOSBox 0.74
// prints a setting it does not accept as
//   "vgax" is not a valid value for variable: machine.
//   It might now be reset it to default value: svga_s3
// to stdout.txt beside itself (or, under Wine, to the bridge's DOSBOX.log);
// DOSBox-X prints the same after "LOG: ", with "reset to the default
// value" on the next line. Staging names refused values, unknown and
// renamed settings in lines of its own ("CONFIG: Invalid 'output' setting:
// 'overlay', using 'opengl'"), after a time stamp.
// Each such report is told with the game's setting it points to; a run
// that reported nothing tells nothing.
#pragma once

#include <string>
#include <vector>

#include "xml/Xml.h"

// The reports in output, one text each, naming the section element of entry
// that holds the setting ("Screen: output = \"bogus\"") where one does.
std::vector<std::string> DosBoxReports(const std::string& output, XmlElement* entry);
