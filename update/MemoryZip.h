// minizip's file functions over a byte string in memory: zip archives are read
// straight from a reply, or built for one, without touching the disk.
#pragma once

#include <ioapi.h>

#include <string>

namespace VULIBRARY {

// Reads archive, which must outlive every handle opened with the result.
// Writes fail and a seek past the end is refused.
zlib_filefunc64_def MemoryZipReader(const std::string& archive);

// Builds an archive in archive. minizip seeks back to patch each local header
// once an entry's sizes are known, so writes may land anywhere in what has
// been written so far.
zlib_filefunc64_def MemoryZipWriter(std::string& archive);

}  // namespace VULIBRARY
