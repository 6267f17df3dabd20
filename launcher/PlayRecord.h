// What a game's runs leave on its entry: the time it has been played in all
// and when it was last played, as attributes of its Main element
// ("PlayTime", a whole number; "LastPlayed", "YYYY-MM-DD hh:mm:ss" in
// UTC), written when DOSBox ends.
#pragma once

#include <string>

#include "xml/Xml.h"

// Adds seconds to entry's play time and sets its last play to when. A stored
// time that is no number counts as none.
void RecordPlay(XmlElement* entry, unsigned long long seconds, const std::string& when);

// Whether entry is one of the games under games (compared by address; never
// dereferenced): a game deleted while it ran is not written to.
bool HoldsGame(XmlElement* games, const void* entry);
