// Picture conversion over a fake codec: format codes, the result and the
// file-name rules.
#include "support/picture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "text/codepage.h"

namespace sorrel {
namespace {

namespace fs = std::filesystem;

class FakeCodec : public PictureCodec {
 public:
  ByteSet Reencode(const ByteSet& picture, PictureFormat format) override {
    ++calls;
    lastFormat = format;
    if (fail) return {};
    ByteSet out = {static_cast<std::uint8_t>(format)};
    out.insert(out.end(), picture.begin(), picture.end());
    return out;
  }
  int calls = 0;
  PictureFormat lastFormat = PictureFormat::kBmp;
  bool fail = false;
};

class ConvertPictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("sorrel_picture_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A file name in this test's directory, as code page 936 text.
  Text NameIn(const std::string& utf8) const { return Utf8ToGbk(dir_.string() + "/" + utf8); }
  static ByteSet ReadAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return ByteSet(std::istreambuf_iterator<char>(file), {});
  }
  size_t FilesWritten() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }

  fs::path dir_;
  FakeCodec codec_;
  const ByteSet picture_ = {'p', 'i', 'c'};
};

TEST_F(ConvertPictureTest, FormatCodesSelectTheFiveFormats) {
  const std::vector<std::pair<int, PictureFormat>> cases = {{1, PictureFormat::kBmp},
                                                            {2, PictureFormat::kJpeg},
                                                            {3, PictureFormat::kGif},
                                                            {4, PictureFormat::kTiff},
                                                            {5, PictureFormat::kPng}};
  for (const auto& [code, format] : cases) {
    ByteSet converted;
    ASSERT_TRUE(ConvertPicture(codec_, picture_, code, {}, &converted)) << code;
    EXPECT_EQ(codec_.lastFormat, format);
    EXPECT_EQ(converted, (ByteSet{static_cast<std::uint8_t>(code), 'p', 'i', 'c'}));
  }
}

TEST_F(ConvertPictureTest, FailuresLeaveTheOutputAndTheFileAlone) {
  const ByteSet before = {9, 9};
  const Text name = NameIn("out.gif");
  for (const int code : {0, 6, -1, 100}) {
    ByteSet converted = before;
    EXPECT_FALSE(ConvertPicture(codec_, picture_, code, name, &converted)) << code;
    EXPECT_EQ(converted, before);
  }
  EXPECT_EQ(codec_.calls, 0);

  ByteSet converted = before;
  EXPECT_FALSE(ConvertPicture(codec_, {}, 3, name, &converted));
  codec_.fail = true;
  EXPECT_FALSE(ConvertPicture(codec_, picture_, 3, name, &converted));
  EXPECT_EQ(converted, before);
  EXPECT_EQ(FilesWritten(), 0u);
}

TEST_F(ConvertPictureTest, AFileIsWrittenUnderTheUntrimmedNameUnlessItIsBlank) {
  ByteSet converted;
  for (const Text& blank : {Text(""), Text("   "), Utf8ToGbk("　 　")}) {
    EXPECT_TRUE(ConvertPicture(codec_, picture_, 5, blank, &converted));
  }
  EXPECT_EQ(FilesWritten(), 0u);

  const Text spaced = NameIn(" spaced.png ");
  EXPECT_TRUE(ConvertPicture(codec_, picture_, 5, spaced, nullptr));
  EXPECT_EQ(ReadAll(dir_ / " spaced.png "), (ByteSet{5, 'p', 'i', 'c'}));

  const Text chinese = NameIn("验证码.gif");
  EXPECT_TRUE(ConvertPicture(codec_, picture_, 3, chinese, &converted));
  EXPECT_EQ(ReadAll(dir_ / fs::path(u8"验证码.gif")), converted);
  EXPECT_EQ(FilesWritten(), 2u);
}

TEST_F(ConvertPictureTest, AFailedWriteDoesNotChangeTheResult) {
  ByteSet converted;
  EXPECT_TRUE(ConvertPicture(codec_, picture_, 1, NameIn("missing/dir/x.bmp"), &converted));
  EXPECT_EQ(converted, (ByteSet{1, 'p', 'i', 'c'}));
}

}  // namespace
}  // namespace sorrel
