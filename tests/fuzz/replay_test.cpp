// Runs every kept fuzz input through its target: the crashes the fuzzers
// found (regressions/<target>/) and the seed corpora (corpus/<target>/).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "fuzz_target.h"

namespace sorrel::fuzz {

namespace {

std::map<std::string, TargetFunction>& Targets() {
  static std::map<std::string, TargetFunction> targets;
  return targets;
}

std::vector<std::filesystem::path> InputsOf(const std::string& folder, const std::string& target) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path dir = std::filesystem::path(SORREL_FUZZ_DIR) / folder / target;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

bool Register(const char* name, TargetFunction function) {
  Targets()[name] = function;
  return true;
}

namespace {

TEST(FuzzReplay, EveryFolderNamesATarget) {
  for (const char* folder : {"corpus", "regressions"}) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(SORREL_FUZZ_DIR) / folder, error)) {
      if (entry.is_directory()) {
        EXPECT_EQ(Targets().count(entry.path().filename().string()), 1u) << entry.path();
      }
    }
  }
}

TEST(FuzzReplay, EveryTargetHasSeeds) {
  ASSERT_GE(Targets().size(), 9u);
  for (const auto& [name, function] : Targets()) {
    EXPECT_FALSE(InputsOf("corpus", name).empty()) << name;
  }
}

TEST(FuzzReplay, KeptInputsRunCleanly) {
  int replayed = 0;
  for (const auto& [name, function] : Targets()) {
    for (const char* folder : {"regressions", "corpus"}) {
      for (const auto& file : InputsOf(folder, name)) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        EXPECT_EQ(function(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
        ++replayed;
      }
    }
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace sorrel::fuzz
