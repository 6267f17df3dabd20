// Bringing changes that another process saved into the library held in
// memory, a game at a time, so that a save never drops what someone else
// added or changed since the file was read.
//
// Games have no identity of their own, so a game is known by a fingerprint
// of its content: the same text is the same game, an edited game is a new
// one. Comparing what the file held when it was read (the base) with what
// memory and the file hold now tells who added, changed or deleted what.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "xml/Xml.h"

using GameFingerprint = std::uint64_t;

// A 64-bit fingerprint of a game's content: names, non-empty attribute
// values, texts, comments and CDATA sections, in order. Empty attributes
// and elements that hold nothing else do not count, because reading a game
// fills them in; so does a round trip through the file.
GameFingerprint FingerprintGame(const XmlElement& game);

// The fingerprints of the games ("g" under "Games") in library order; empty
// when the document has no root or no "Games".
std::vector<GameFingerprint> FingerprintLibrary(const XmlDocument& library);

// One game of the merged library: memory's game `index`, or the file's.
struct MergedGame {
  bool fromFile = false;
  std::size_t index = 0;
  bool operator==(const MergedGame& other) const { return fromFile == other.fromFile && index == other.index; }
};

// The merged library in order. For each distinct game, its count is the
// base's plus both sides' changes; a change both sides made alike (the same
// game added, or removed, by both) counts once. So games added in the file
// come in, games deleted in the file and untouched in memory go, a game
// changed on both sides is kept in both versions, and a game changed on one
// side only takes that side. A pinned memory game (open in an editor) is
// never dropped. Memory's games keep their order; each game from the file
// follows the game it follows in the file (after memory's own additions
// there), so a changed game keeps its place.
std::vector<MergedGame> PlanLibraryMerge(const std::vector<GameFingerprint>& base,
                                         const std::vector<GameFingerprint>& memory,
                                         const std::vector<GameFingerprint>& file,
                                         const std::vector<bool>& pinned);

struct MergeCounts {
  std::size_t added = 0;    // games taken from the file
  std::size_t removed = 0;  // memory's games dropped because the file dropped them
};

// Applies a plan to memory's "Games": removes the games it leaves out and
// puts copies of the file's games in their places. memory's games must be
// the ones the plan was made from.
MergeCounts ApplyLibraryMerge(XmlDocument& memory, const XmlDocument& file, const std::vector<MergedGame>& plan);
