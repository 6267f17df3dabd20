// The DOSBox another front end ran a game with, as one of the engines the
// user has listed: the other program names it by a title, a version, a
// build or a folder, which says its kind at best.
#pragma once

#include <string>
#include <vector>

#include "launcher/EngineList.h"

// The name of the listed engine for named (as ForeignGame::engine holds it):
// the engine of that name (case aside, or the name of the folder named);
// else, for a kind other than 0.74, the list's default when it is of that
// kind, or the first engine of that kind. "" (DOSBox beside the program, a
// 0.74) when named is empty or nothing fits; a kind other than 0.74 left so
// is noted in notCarried.
std::string ForeignEngineName(const std::string& named, const EngineList& list, std::vector<std::string>& notCarried);
