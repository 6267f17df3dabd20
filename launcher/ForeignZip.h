// A zip archive on disk, read by entry name: the game packs other front ends
// export hold their list of games and, beside it, the games' files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ForeignZip {
 public:
  // A missing or damaged archive is not open.
  explicit ForeignZip(const std::string& path);
  ~ForeignZip();
  ForeignZip(const ForeignZip&) = delete;
  ForeignZip& operator=(const ForeignZip&) = delete;

  bool IsOpen() const { return zip_ != nullptr; }
  // Every entry's name as stored ("/" between names; folders end in "/").
  const std::vector<std::string>& Names() const { return names_; }

  // The bytes of the entry called name (case aside); false when there is
  // none, it is damaged, or it inflates to more than maxBytes.
  bool Read(const std::string& name, std::uint64_t maxBytes, std::string& bytes);

  // Writes every entry whose name starts with prefix ("KEEN/"; case aside;
  // "" for all) into folder, keeping the rest of its name as the path below
  // it. Names that would leave folder (".." or an absolute path) are refused
  // and nothing of them is written. False, with error, at the first failure
  // (what was unpacked before it stays).
  bool Extract(const std::string& prefix, const std::string& folder, std::string& error);

 private:
  bool ReadCurrent(std::uint64_t maxBytes, std::string& bytes);
  // The current entry into a new file at path, piece by piece; a damaged
  // entry leaves no file.
  bool WriteCurrent(const std::string& path);

  void* zip_ = nullptr;
  std::vector<std::string> names_;
};

// Whether an entry name stays inside the folder it is unpacked into: no
// drive, no leading separator, no ".." among its names.
bool IsSafeEntryName(const std::string& name);
