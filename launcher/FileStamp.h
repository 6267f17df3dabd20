// What a file is at one moment, cheaply: enough to tell, before a save,
// whether someone else wrote the library since it was read. A save through a
// temporary file gives the file a new identity, so any other program's save
// shows even when size and time happen to match.
#pragma once

#include <cstdint>
#include <string>

struct FileStamp {
  bool exists = false;
  std::uint64_t volume = 0;  // serial number of the volume (device on POSIX)
  std::uint64_t index = 0;   // the file's number on it
  std::uint64_t size = 0;
  std::uint64_t written = 0;  // last write time, in the system's units
  bool operator==(const FileStamp& other) const {
    return exists == other.exists && volume == other.volume && index == other.index && size == other.size &&
           written == other.written;
  }
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

// The stamp of the file path (UTF-8) names, links followed; exists is false
// only when there is no such file. One that cannot be asked gets a stamp of
// zeros, which differs from every real file's.
FileStamp ReadFileStamp(const std::string& path);
