// Shared by the server tests: a release folder in a temporary directory and
// a zip reader over a memory buffer (minizip's unzip, as the client uses it).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace server_test {

namespace fs = std::filesystem;

// ROOT/<kProduct>/ with whatever files a test writes; removed afterwards.
class ReleaseTree {
 public:
  static constexpr const char* kProduct = "5E1C9A02-7B3D-4F61-9A8E-2C47D0B3F915";
  ReleaseTree();
  ~ReleaseTree();
  ReleaseTree(const ReleaseTree&) = delete;
  ReleaseTree& operator=(const ReleaseTree&) = delete;

  const fs::path& Root() const { return root_; }
  // The folder that holds the root: what an escape through ".." would reach.
  fs::path Outside() const { return root_.parent_path(); }
  fs::path Product() const { return root_ / kProduct; }
  fs::path Write(const std::string& name, const std::string& bytes) const;  // in the product folder

 private:
  fs::path root_;
};

std::string ReadFileBytes(const fs::path& path);
std::string RandomText(std::size_t size, unsigned seed);

struct ZipEntry {
  std::string name;
  int method = -1;  // 0 stored, 8 deflated
  std::string bytes;
};
// False when the buffer is not a zip archive or an entry cannot be read.
bool ReadZip(const std::string& archive, std::vector<ZipEntry>& entries);

}  // namespace server_test
