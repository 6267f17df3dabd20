// A zip archive written for a test: each entry's name and bytes, deflated.
#pragma once

#include <zip.h>

#include <string>
#include <utility>
#include <vector>

inline void WriteZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  for (const auto& entry : entries) {
    zip_fileinfo info{};
    zipOpenNewFileInZip(zip, entry.first.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9);
    zipWriteInFileInZip(zip, entry.second.data(), static_cast<unsigned>(entry.second.size()));
    zipCloseFileInZip(zip);
  }
  zipClose(zip, nullptr);
}
