// Every file in files/ is an input that once broke the XML reader or writer
// under the fuzzer, or a hand-made input covering one of its odd paths. Each
// goes through exactly the checks the fuzzer applies.
#include "HostPath.h"
#include "XmlRoundTrip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(HostPath(VANTLE_CORPUS_DIR), error))
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A private folder per test process, removed when the test is done.
class WorkFolder {
public:
  WorkFolder() {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() / ("vantle-corpus-" + std::to_string(stamp));
    fs::create_directories(path_);
  }
  ~WorkFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string Path() const { return path_.string(); }

private:
  fs::path path_;
};

class KeptInput : public ::testing::TestWithParam<std::string> {};

TEST_P(KeptInput, KeepsEveryReaderAndWriterPromise) {
  std::ifstream in(fs::path(HostPath(VANTLE_CORPUS_DIR)) / GetParam(), std::ios::binary);
  ASSERT_TRUE(in) << GetParam();
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  WorkFolder work;
  std::vector<std::string> failures = xmlcheck::CheckInput(
      reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), work.Path());
  for (const std::string& failure : failures) ADD_FAILURE() << GetParam() << ": " << failure;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, KeptInput, ::testing::ValuesIn(CorpusFiles()), TestName);

// Guards against a wrong folder path (for instance under Wine) turning the
// replay into zero tests that all pass.
TEST(Corpus, FolderHoldsTheKeptInputs) {
  EXPECT_GE(CorpusFiles().size(), 5u) << HostPath(VANTLE_CORPUS_DIR);
}

}  // namespace
