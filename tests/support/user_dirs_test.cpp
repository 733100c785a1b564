// The user's folders: where they are, and the one rule for the ones the
// tool makes and the files it keeps there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/user_dirs_posix.h"

namespace sorrel {
namespace {

namespace fs = std::filesystem;

class UserDirsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = (fs::temp_directory_path() / "sorrel-dirs-XXXXXX").string();
    ASSERT_NE(mkdtemp(root_.data()), nullptr);
  }
  void TearDown() override { fs::remove_all(root_); }

  static mode_t Mode(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }
  // Sets the variables of `names` to `values` ("" unsets) for one call.
  template <typename Call>
  static auto With(std::initializer_list<std::pair<const char*, std::string>> values, Call call) {
    std::vector<std::pair<const char*, std::string>> saved;
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name);
      saved.emplace_back(name, old != nullptr ? old : "");
      value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
    }
    auto result = call();
    for (const auto& [name, value] : saved) {
      value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
    }
    return result;
  }

  std::string root_;
};

TEST_F(UserDirsTest, FoldersFollowTheVariablesWhenTheyAreAbsolute) {
  const auto folders = [] { return UserDataFolder() + "|" + UserConfigFolder(); };
  EXPECT_EQ(With({{"HOME", "/h"}, {"XDG_DATA_HOME", "/d"}, {"XDG_CONFIG_HOME", "/c"}}, folders),
            "/d|/c");
  EXPECT_EQ(With({{"HOME", "/h"}, {"XDG_DATA_HOME", "rel"}, {"XDG_CONFIG_HOME", ""}}, folders),
            "/h/.local/share|/h/.config");
}

TEST_F(UserDirsTest, MadeFoldersArePrivateAndOnlyTheUsersOwnAreTaken) {
  const std::string deep = root_ + "/a/b/c";
  std::string why;
  ASSERT_TRUE(MakePrivateFolder(deep, &why)) << why;
  for (const std::string& made : {root_ + "/a", root_ + "/a/b", deep}) {
    EXPECT_EQ(Mode(made), 0700u) << made;
  }
  ASSERT_EQ(chmod(deep.c_str(), 0755), 0);
  EXPECT_TRUE(MakePrivateFolder(deep));
  EXPECT_EQ(Mode(deep), 0700u);

  const std::string link = root_ + "/link";
  fs::create_directory_symlink(deep, link);
  EXPECT_FALSE(MakePrivateFolder(link, &why));
  EXPECT_EQ(why, "文件夹 " + link + " 是符号链接，本工具不经符号链接保存文件。");
  EXPECT_FALSE(MakePrivateFolder("relative/folder", &why));
  if (geteuid() == 0) {
    ASSERT_EQ(chown(deep.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(MakePrivateFolder(deep, &why));
    EXPECT_EQ(why, "文件夹 " + deep + " 属于另一个用户，本工具不使用它。");
  }
}

TEST_F(UserDirsTest, KeptFilesArePrivateAndNeverReachedThroughALink) {
  const std::string file = root_ + "/kept";
  int fd = OpenPrivateFile(file, O_WRONLY | O_CREAT);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(Mode(file), 0600u);
  ASSERT_EQ(chmod(file.c_str(), 0644), 0);
  fd = OpenPrivateFile(file, O_RDONLY);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(Mode(file), 0600u);

  std::string why;
  const std::string link = root_ + "/link";
  fs::create_symlink(file, link);
  EXPECT_EQ(OpenPrivateFile(link, O_WRONLY | O_CREAT | O_TRUNC, &why), -1);
  EXPECT_EQ(why, "文件 " + link + " 是符号链接，本工具不经符号链接保存文件。");
  EXPECT_EQ(OpenPrivateFile(root_, O_RDONLY, &why), -1);
  EXPECT_EQ(why, root_ + " 不是普通文件。");
  if (geteuid() == 0) {
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    EXPECT_EQ(OpenPrivateFile(file, O_RDONLY, &why), -1);
    EXPECT_EQ(why, "文件 " + file + " 属于另一个用户，本工具不使用它。");
  }
}

TEST_F(UserDirsTest, TheRuntimeFolderIsTheUsersAloneOrNone) {
  const std::string runtime = root_ + "/run";
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  const std::string fallback = root_ + "/sorrel-resolver-" + std::to_string(geteuid());
  const auto folder = [] { return UserRuntimeFolder(); };
  EXPECT_EQ(With({{"XDG_RUNTIME_DIR", runtime}, {"TMPDIR", root_}}, folder), runtime);
  // One others may enter is no runtime folder; then a folder of its own.
  ASSERT_EQ(chmod(runtime.c_str(), 0755), 0);
  EXPECT_EQ(With({{"XDG_RUNTIME_DIR", runtime}, {"TMPDIR", root_}}, folder), fallback);
  EXPECT_EQ(Mode(fallback), 0700u);
  EXPECT_EQ(With({{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", root_}}, folder), fallback);
  if (geteuid() == 0) {
    // Taken first by another user: none at all.
    ASSERT_EQ(chown(fallback.c_str(), 65534, 65534), 0);
    std::string why;
    EXPECT_EQ(
        With({{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", root_}}, [&] { return UserRuntimeFolder(&why); }),
        "");
    EXPECT_EQ(why, "文件夹 " + fallback + " 属于另一个用户，本工具不使用它。");
  }
}

}  // namespace
}  // namespace sorrel
