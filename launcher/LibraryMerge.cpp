#include "launcher/LibraryMerge.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <unordered_map>
#include <utility>

namespace {

// A small, fast 64-bit hash over the stored strings of a game, eight bytes
// at a time: fingerprinting a library of tens of thousands of games must cost
// a fraction of reading it.
class Hasher {
 public:
  void Add(std::uint64_t word) {
    state_ = (state_ ^ word) * 0x9E3779B97F4A7C15ull;
    state_ ^= state_ >> 29;
  }
  // Each string with its length and a tag for what it is, so that moving
  // bytes from one string to the next, or from a value to a text, changes
  // the result.
  void Add(char tag, const char* text) { Add(tag, text, std::strlen(text)); }
  void Add(char tag, const char* text, std::size_t length) {
    Add((static_cast<std::uint64_t>(length) << 8) | static_cast<unsigned char>(tag));
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, text + i, 8);
      Add(word);
    }
    // The last bytes little-endian, as a copy into a zeroed word would put
    // them, without a call to copy a length known only here.
    std::uint64_t rest = 0;
    for (unsigned shift = 0; i < length; ++i, shift += 8)
      rest |= static_cast<std::uint64_t>(static_cast<unsigned char>(text[i])) << shift;
    Add(rest);
  }
  std::uint64_t Value() const {
    std::uint64_t value = state_ * 0xBF58476D1CE4E5B9ull;
    return value ^ (value >> 31);
  }

 private:
  std::uint64_t state_ = 0x6A09E667F3BCC909ull;
};

// Hashes what element holds itself (attributes, texts); false when that is
// nothing worth keeping.
bool AddOwnContent(const XmlElement& element, Hasher& hasher) {
  bool any = false;
  for (unsigned i = 0; i < element.GetAttributeCount(); ++i) {
    const XmlAttribute* attribute = element.GetAttribute(i);
    // The stored lengths are known: no string is measured again.
    const std::size_t valueLength = attribute->GetValue(nullptr, 0);
    if (valueLength == 0) continue;
    hasher.Add('a', attribute->GetStoredName(), attribute->GetName(nullptr, 0));
    hasher.Add('v', attribute->GetStoredValue(), valueLength);
    any = true;
  }
  XmlElement& mutableElement = const_cast<XmlElement&>(element);  // the getters below only read
  for (unsigned i = 0; i < element.GetContentCount(); ++i, any = true)
    hasher.Add('t', mutableElement.GetContents()[i]->GetStoredText());
  for (unsigned i = 0; i < element.GetCDataCount(); ++i, any = true)
    hasher.Add('d', mutableElement.GetCDatas()[i]->GetText());
  for (unsigned i = 0; i < element.GetCommentCount(); ++i, any = true)
    hasher.Add('c', mutableElement.GetComments()[i]->GetText());
  return any;
}

XmlElement* GamesElement(const XmlDocument& library) {
  XmlElement* root = library.GetRoot();
  return root ? root->FindChild("Games") : nullptr;
}

std::vector<XmlElement*> GameElements(const XmlDocument& library) {
  std::vector<XmlElement*> games;
  XmlElement* parent = GamesElement(library);
  if (!parent) return games;
  games.reserve(parent->GetChildCount());
  for (unsigned i = 0; i < parent->GetChildCount(); ++i)
    if (std::strcmp(parent->GetChildren()[i]->GetStoredName(), "g") == 0) games.push_back(parent->GetChildren()[i]);
  return games;
}

// How many times a game stands in the base, in memory and in the file, and
// how many the merged library keeps.
struct Tally {
  long base = 0, memory = 0, file = 0;
  long Merged() const {
    const long inMemory = memory - base, inFile = file - base;
    long merged = base + inMemory + inFile;
    if (inMemory > 0 && inFile > 0) merged = base + std::max(inMemory, inFile);
    if (inMemory < 0 && inFile < 0) merged = base + std::min(inMemory, inFile);
    return std::max(merged, 0L);
  }
};

}  // namespace

namespace {

// One element under way in a game's fingerprint.
struct Frame {
  explicit Frame(const XmlElement* e) : element(e) {}
  const XmlElement* element;
  unsigned next = 0;
  Hasher hasher;
  bool any = false;
};

// stack: room kept from one game to the next, so that fingerprinting a
// library allocates nothing per game.
GameFingerprint Fingerprint(const XmlElement& game, std::vector<Frame>& stack) {
  // Each element's hash is made of its own content and its children's
  // hashes, so an element that holds nothing can be left out. An explicit
  // stack: nesting depth is the file's business.
  stack.clear();
  stack.emplace_back(&game);
  stack.back().hasher.Add('e', game.GetStoredName());
  stack.back().any = AddOwnContent(game, stack.back().hasher);
  for (;;) {
    Frame& top = stack.back();
    if (top.next < top.element->GetChildCount()) {
      const XmlElement* child = const_cast<XmlElement*>(top.element)->GetChildren()[top.next++];
      stack.emplace_back(child);
      stack.back().hasher.Add('e', child->GetStoredName());
      stack.back().any = AddOwnContent(*child, stack.back().hasher);
      continue;
    }
    if (stack.size() == 1) return top.hasher.Value();
    const bool any = top.any;
    const std::uint64_t value = top.hasher.Value();
    stack.pop_back();
    if (any) {
      stack.back().hasher.Add(value);
      stack.back().any = true;
    }
  }
}

}  // namespace

GameFingerprint FingerprintGame(const XmlElement& game) {
  std::vector<Frame> stack;
  return Fingerprint(game, stack);
}

std::vector<GameFingerprint> FingerprintLibrary(const XmlDocument& library) {
  const std::vector<XmlElement*> games = GameElements(library);
  std::vector<GameFingerprint> prints(games.size());
  const auto fingerprint = [&games, &prints](std::size_t from, std::size_t to) {
    std::vector<Frame> stack;
    stack.reserve(16);
    for (std::size_t i = from; i < to; ++i) prints[i] = Fingerprint(*games[i], stack);
  };
  // A large library is fingerprinted in two halves side by side, which
  // both only read it: a save waits for its fingerprints.
  constexpr std::size_t kHalvedFrom = 2000;
  if (games.size() < kHalvedFrom) {
    fingerprint(0, games.size());
    return prints;
  }
  const std::size_t half = games.size() / 2;
  std::thread second(fingerprint, half, games.size());
  fingerprint(0, half);
  second.join();
  return prints;
}

std::vector<MergedGame> PlanLibraryMerge(const std::vector<GameFingerprint>& base,
                                         const std::vector<GameFingerprint>& memory,
                                         const std::vector<GameFingerprint>& file,
                                         const std::vector<bool>& pinned) {
  std::unordered_map<GameFingerprint, Tally> tallies;
  for (GameFingerprint game : base) ++tallies[game].base;
  for (GameFingerprint game : memory) ++tallies[game].memory;
  for (GameFingerprint game : file) ++tallies[game].file;

  // Memory drops the last copies of a game it has more of than the merge
  // keeps, unless they are pinned.
  std::vector<bool> kept(memory.size(), true);
  std::unordered_map<GameFingerprint, long> surplus;
  for (const auto& [game, tally] : tallies) surplus[game] = tally.memory - tally.Merged();
  for (std::size_t i = memory.size(); i-- > 0;) {
    long& more = surplus[memory[i]];
    if (more > 0 && !(i < pinned.size() && pinned[i])) {
      kept[i] = false;
      --more;
    }
  }
  std::unordered_map<GameFingerprint, std::vector<std::size_t>> keptCopies;
  for (std::size_t i = 0; i < memory.size(); ++i)
    if (kept[i]) keptCopies[memory[i]].push_back(i);

  // The file's first copies of a game stand for memory's kept ones; the last
  // copies beyond what memory keeps come in. Each comes in after the memory
  // game that the nearest such stand-in before it stands for.
  std::vector<std::pair<long, std::size_t>> incoming;  // (memory game it follows, or -1; file index)
  std::unordered_map<GameFingerprint, long> seen;
  long follows = -1;
  for (std::size_t i = 0; i < file.size(); ++i) {
    const Tally& tally = tallies[file[i]];
    const std::vector<std::size_t>& copies = keptCopies[file[i]];
    const long toAdd = std::max(0L, tally.Merged() - static_cast<long>(copies.size()));
    const long copy = seen[file[i]]++;
    if (copy >= tally.file - toAdd) {
      incoming.emplace_back(follows, i);
    } else if (copy < static_cast<long>(copies.size())) {
      follows = static_cast<long>(copies[static_cast<std::size_t>(copy)]);
    }
  }
  std::stable_sort(incoming.begin(), incoming.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  // Memory's order, with each incoming game just before the first game of
  // memory after the one it follows that the file has too.
  std::vector<bool> inFile(memory.size(), false);
  for (const auto& [game, copies] : keptCopies) {
    const long standIns = std::min(static_cast<long>(copies.size()), tallies[game].file);
    for (long c = 0; c < standIns; ++c) inFile[copies[static_cast<std::size_t>(c)]] = true;
  }
  std::vector<MergedGame> plan;
  plan.reserve(memory.size() + incoming.size());
  std::size_t next = 0;
  for (std::size_t i = 0; i < memory.size(); ++i) {
    if (!kept[i]) continue;
    if (inFile[i])
      for (; next < incoming.size() && incoming[next].first < static_cast<long>(i); ++next)
        plan.push_back(MergedGame{true, incoming[next].second});
    plan.push_back(MergedGame{false, i});
  }
  for (; next < incoming.size(); ++next) plan.push_back(MergedGame{true, incoming[next].second});
  return plan;
}

MergeCounts ApplyLibraryMerge(XmlDocument& memory, const XmlDocument& file, const std::vector<MergedGame>& plan) {
  MergeCounts counts;
  const std::vector<XmlElement*> ours = GameElements(memory);
  const std::vector<XmlElement*> theirs = GameElements(file);
  XmlElement* games = GamesElement(memory);
  if (!games) {
    if (!memory.GetRoot()) return counts;
    games = memory.GetRoot()->FindChild("Games", true);
  }
  std::vector<bool> keep(ours.size(), false);
  for (const MergedGame& game : plan)
    if (!game.fromFile && game.index < ours.size()) keep[game.index] = true;
  // Removed from the last child down, so that the indexes stay right.
  std::size_t game = ours.size();
  for (unsigned child = games->GetChildCount(); child-- > 0 && game > 0;) {
    if (games->GetChildren()[child] != ours[game - 1]) continue;
    if (!keep[--game]) {
      games->RemoveChild(child);
      ++counts.removed;
    }
  }
  // Then the file's games go in, each after the game the plan puts before it.
  unsigned position = 0;  // where the next game goes among the children
  for (const MergedGame& slot : plan) {
    if (!slot.fromFile) {
      if (slot.index >= ours.size()) continue;
      while (position < games->GetChildCount() && games->GetChildren()[position] != ours[slot.index]) ++position;
      if (position < games->GetChildCount()) ++position;
      continue;
    }
    if (slot.index >= theirs.size()) continue;
    games->InsertChild(position++, theirs[slot.index]->Clone());
    ++counts.added;
  }
  return counts;
}
