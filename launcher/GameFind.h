// Finding games by what the user types into the find box: a game matches
// when its name, description, category or publisher holds the typed text, whatever
// the case and the accents ("bo" and "ZWOLF" both find "Zwölf Boxkämpfer").
#pragma once

#include <string>
#include <vector>

#include "launcher/GameListRows.h"

// text (UTF-8) in the form finding compares: letters in lower case, Latin
// letters without their accents (ß as "ss", æ as "ae"), Greek and Cyrillic
// capitals in lower case, ё as е; everything else as it is.
std::string FoldForFind(const std::string& text);

// The text a row is found by, folded: name, description, category and the
// publisher (Main's attribute Publisher) when the game has one.
std::string FindTextOf(const GameRow& row);

// The positions in findTexts (FindTextOf of each row, in list order) that hold
// needle; every position when needle folds to nothing.
std::vector<int> MatchingRows(const std::vector<std::string>& findTexts, const std::string& needle);
