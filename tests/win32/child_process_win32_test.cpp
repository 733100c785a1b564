#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace sorrel {
namespace {

using namespace std::chrono_literals;
using Clock = ChildProcess::Clock;

// child_echo.exe, built beside this test.
std::string Echo() {
  wchar_t own[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring path(own, n);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"child_echo.exe";
  char utf8[MAX_PATH * 3];
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
  return std::string(utf8, static_cast<std::size_t>(size - 1));
}

std::unique_ptr<ChildProcess> Started(std::vector<std::string> argv, ChildLaunch launch = {}) {
  launch.argv = std::move(argv);
  if (launch.out == ChildStream::kNull) launch.out = ChildStream::kPipe;
  int error = 0;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start(launch, error);
  EXPECT_TRUE(child) << launch.argv[0] << ": " << error;
  return child;
}

const struct {
  const char* argument;  // UTF-8
  const wchar_t* quoted;
} kQuoting[] = {
    {"plain", L"plain"},
    {"", L"\"\""},
    {"two words", L"\"two words\""},
    {"tab\there", L"\"tab\there\""},
    {"say \"hi\"", L"\"say \\\"hi\\\"\""},
    {"a\\\"b", L"\"a\\\\\\\"b\""},
    {"C:\\no space\\", L"\"C:\\no space\\\\\""},
    {"C:\\plain\\", L"C:\\plain\\"},
    {"a\\\\b c", L"\"a\\\\b c\""},
    {"\xE4\xB8\x8B\xE8\xBD\xBD \xE6\x96\x87\xE4\xBB\xB6.zip", L"\"\u4E0B\u8F7D \u6587\u4EF6.zip\""},
};

TEST(ChildProcessWin32Test, EachArgumentIsQuotedByTheRuntimesRules) {
  for (const auto& c : kQuoting) {
    EXPECT_EQ(CommandLineOf({c.argument}), c.quoted) << c.argument;
  }
  EXPECT_EQ(CommandLineOf({"a b", "c", ""}), L"\"a b\" c \"\"");
}

TEST(ChildProcessWin32Test, TheChildReadsBackEveryArgumentUnchanged) {
  std::vector<std::string> argv = {Echo()};
  for (const auto& c : kQuoting) argv.push_back(c.argument);
  auto child = Started(argv);
  ASSERT_TRUE(child);
  const auto deadline = Clock::now() + 30s;
  for (const auto& c : kQuoting) EXPECT_EQ(child->ReadLine(deadline), c.argument);
  EXPECT_EQ(child->ReadLine(deadline), "");
  const std::optional<ChildExit> exit = child->Wait(deadline);
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->Status(), 0);
}

TEST(ChildProcessWin32Test, ExitCodesDeadlinesAndTheStop) {
  auto ends = Started({Echo(), "--exit", "3"});
  ASSERT_TRUE(ends);
  const std::optional<ChildExit> exit = ends->Wait(Clock::now() + 30s);
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->code, 3);

  auto waits = Started({Echo(), "--wait"});
  ASSERT_TRUE(waits);
  EXPECT_FALSE(waits->ReadLine(Clock::now() + 200ms));
  EXPECT_FALSE(waits->Wait(Clock::now() + 200ms));
  EXPECT_TRUE(waits->Running());
  // Placed in this process's job, which ends it with this process.
  const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, waits->Id());
  ASSERT_NE(process, nullptr);
  BOOL inJob = FALSE;
  EXPECT_TRUE(IsProcessInJob(process, nullptr, &inJob));
  EXPECT_TRUE(inJob);
  CloseHandle(process);
  EXPECT_EQ(waits->Stop(100ms).code, 137);
  EXPECT_FALSE(waits->Running());
}

TEST(ChildProcessWin32Test, DroppedVariablesAndMissingPrograms) {
  SetEnvironmentVariableW(L"SORREL_CHILD_SECRET", L"kept");
  auto kept = Started({Echo(), "--env", "SORREL_CHILD_SECRET"});
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->ReadLine(Clock::now() + 30s), "kept");
  ChildLaunch dropping;
  dropping.dropEnvironment = {"sorrel_child_secret"};
  auto dropped = Started({Echo(), "--env", "SORREL_CHILD_SECRET"}, dropping);
  ASSERT_TRUE(dropped);
  EXPECT_EQ(dropped->ReadLine(Clock::now() + 30s), "(none)");
  SetEnvironmentVariableW(L"SORREL_CHILD_SECRET", nullptr);

  int error = 0;
  EXPECT_FALSE(ChildProcess::Start({{"no-such-program-anywhere"}}, error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(ChildProcess::Start({{}}, error));
  EXPECT_EQ(error, EINVAL);
}

}  // namespace
}  // namespace sorrel
