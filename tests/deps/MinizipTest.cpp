// Proves that the zip library each build tree links (Debian's libminizip
// natively, Debian's zlib sources compiled by mingw for Windows) writes and
// reads archives with deflated entries, the form the update server sends.
#include <gtest/gtest.h>

#include <unzip.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string TempZipPath(const char* name) {
  auto dir = std::filesystem::temp_directory_path() / "vantle-deps-test";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

void AddEntry(zipFile zf, const char* name, const std::string& data) {
  zip_fileinfo info{};
  ASSERT_EQ(ZIP_OK, zipOpenNewFileInZip(zf, name, &info, nullptr, 0, nullptr, 0, nullptr,
                                        Z_DEFLATED, Z_DEFAULT_COMPRESSION));
  ASSERT_EQ(ZIP_OK, zipWriteInFileInZip(zf, data.data(), static_cast<unsigned>(data.size())));
  ASSERT_EQ(ZIP_OK, zipCloseFileInZip(zf));
}

std::string ReadCurrent(unzFile uf) {
  std::string out;
  EXPECT_EQ(UNZ_OK, unzOpenCurrentFile(uf));
  std::vector<char> buf(4096);
  int n;
  while ((n = unzReadCurrentFile(uf, buf.data(), static_cast<unsigned>(buf.size()))) > 0) {
    out.append(buf.data(), static_cast<size_t>(n));
  }
  EXPECT_EQ(0, n);
  EXPECT_EQ(UNZ_OK, unzCloseCurrentFile(uf));  // also checks the CRC
  return out;
}

}  // namespace

TEST(Minizip, RoundTripsDeflatedEntriesInOrder) {
  const std::string path = TempZipPath("roundtrip.zip");
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "line " + std::to_string(i) + "\r\n";

  zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(nullptr, zf);
  AddEntry(zf, "vtl64.exe", big);
  AddEntry(zf, "empty.txt", "");
  ASSERT_EQ(ZIP_OK, zipClose(zf, nullptr));

  unzFile uf = unzOpen64(path.c_str());
  ASSERT_NE(nullptr, uf);
  unz_global_info64 global{};
  ASSERT_EQ(UNZ_OK, unzGetGlobalInfo64(uf, &global));
  EXPECT_EQ(2u, global.number_entry);

  ASSERT_EQ(UNZ_OK, unzGoToFirstFile(uf));
  char name[256];
  unz_file_info64 info{};
  ASSERT_EQ(UNZ_OK, unzGetCurrentFileInfo64(uf, &info, name, sizeof name, nullptr, 0, nullptr, 0));
  EXPECT_STREQ("vtl64.exe", name);
  EXPECT_EQ(big.size(), info.uncompressed_size);
  EXPECT_LT(info.compressed_size, info.uncompressed_size / 4);
  EXPECT_EQ(big, ReadCurrent(uf));

  ASSERT_EQ(UNZ_OK, unzGoToNextFile(uf));
  ASSERT_EQ(UNZ_OK, unzGetCurrentFileInfo64(uf, &info, name, sizeof name, nullptr, 0, nullptr, 0));
  EXPECT_STREQ("empty.txt", name);
  EXPECT_EQ("", ReadCurrent(uf));
  EXPECT_EQ(UNZ_END_OF_LIST_OF_FILE, unzGoToNextFile(uf));
  unzClose(uf);
  std::remove(path.c_str());
}

TEST(Minizip, RejectsATruncatedArchive) {
  const std::string path = TempZipPath("truncated.zip");
  zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(nullptr, zf);
  AddEntry(zf, "a.txt", std::string(100000, 'a') + std::to_string(12345));
  ASSERT_EQ(ZIP_OK, zipClose(zf, nullptr));
  // A download cut short loses the central directory at the end.
  std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
  EXPECT_EQ(nullptr, unzOpen64(path.c_str()));
  std::remove(path.c_str());
}
