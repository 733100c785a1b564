// The history's file against writers killed at any moment: forked
// processes appending entries and changes, some large enough that a kill
// may land inside their write, with a cap small enough that it also lands
// inside rewrites, and every other one killed inside its first rewrite.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/history.h"
#include "app/history_file.h"

namespace sorrel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCap = 30;

// The workflow's own Base64, which both builds have.
const OwnBase64 kBase64;

// Entries whose parts tell whether they were read whole.
HistoryEntry Entry(int round, int i) {
  HistoryEntry entry;
  entry.page = "http://127.0.0.1:8017/file/" + std::to_string(round) + "-" + std::to_string(i);
  entry.name = std::string(i % 4 == 0 ? 32768 : 10, static_cast<char>('a' + i % 26));
  entry.normal = entry.page + "/dl";
  entry.thunder = "thunder://" + entry.page;
  entry.flashget = "flashget://" + entry.page;
  return entry;
}

// Every other writer is killed at the last moment of its first rewrite,
// before the new file takes the old one's place.
void KilledBeforeTheRename() { raise(SIGKILL); }

[[noreturn]] void WriteUntilKilled(const std::string& path, int round) {
  if (round % 2 == 1) SetHistoryReplaceHookForTesting(KilledBeforeTheRename);
  History history(kBase64, path, kCap);
  for (int i = 0;; ++i) {
    const std::string id = history.Add(Entry(round, i));
    HistoryChange change;
    change.check = "ok";
    change.size = i;
    if (!id.empty()) history.Change(id, change);
  }
}

TEST(HistoryKillTest, AWriterKilledAtAnyMomentLeavesTheFileReadable) {
  const fs::path dir =
      fs::temp_directory_path() / ("sorrel_history_kill_" + std::to_string(getpid()));
  fs::remove_all(dir);
  const std::string path = (dir / "history").string();
  std::size_t read = 0, damaged = 0, before = 0;
  for (int round = 0; round < 25; ++round) {
    SCOPED_TRACE(round);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) WriteUntilKilled(path, round);
    // Killed after a while, or by itself at its first rewrite.
    const auto deadline =
        std::chrono::steady_clock::now() +
        (round % 2 == 1 ? std::chrono::microseconds(10000000)
                        : std::chrono::microseconds(3000 + (round * 7919) % 60000));
    int status = 0;
    while (waitpid(writer, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (kill(writer, SIGKILL) == 0) waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    History reader(kBase64, path, kCap);
    HistoryContents contents;
    ASSERT_TRUE(reader.Read(contents)) << reader.error();
    EXPECT_LE(contents.damaged, 1u);
    EXPECT_LE(contents.entries.size(), kCap);
    // Nothing that was there is lost; only the cap pushes entries out.
    EXPECT_GE(contents.entries.size(), before);
    before = contents.entries.size();
    for (const HistoryEntry& entry : contents.entries) {
      EXPECT_EQ(entry.normal, entry.page + "/dl");
      EXPECT_EQ(entry.thunder, "thunder://" + entry.page);
      EXPECT_EQ(entry.flashget, "flashget://" + entry.page);
      EXPECT_TRUE(entry.name.size() == 10 || entry.name.size() == 32768) << entry.name.size();
      EXPECT_TRUE(entry.check.empty() || entry.check == "ok");
    }
    read += contents.entries.size();
    damaged += contents.damaged;
    // Said once: the damage is gone from the file.
    ASSERT_TRUE(History(kBase64, path, kCap).Read(contents));
    EXPECT_EQ(contents.damaged, 0u);
  }
  EXPECT_GT(read, 0u);
  std::printf("%zu entries read over the rounds, %zu lines cut short by a kill\n", read, damaged);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace sorrel
