#include "support/child_process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

namespace sorrel {
namespace {

using namespace std::chrono_literals;
using Clock = ChildProcess::Clock;

std::unique_ptr<ChildProcess> Started(ChildLaunch launch) {
  int error = 0;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start(launch, error);
  EXPECT_TRUE(child) << launch.argv[0] << ": " << error;
  return child;
}

TEST(ChildProcessTest, LinesThenTheEndThenTheExit) {
  auto child = Started({{"sh", "-c", "printf 'one\\r\\ntwo\\nrest'; exit 3"}, ChildStream::kPipe});
  ASSERT_TRUE(child);
  const auto deadline = Clock::now() + 10s;
  EXPECT_EQ(child->ReadLine(deadline), "one");
  EXPECT_EQ(child->ReadLine(deadline), "two");
  EXPECT_EQ(child->ReadLine(deadline), "rest");
  EXPECT_EQ(child->ReadLine(deadline), "");
  const std::optional<ChildExit> exit = child->Wait(deadline);
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->code, 3);
  EXPECT_EQ(exit->Status(), 3);
  EXPECT_FALSE(child->Running());

  auto longLine = Started({{"sh", "-c", "printf 0123456789"}, ChildStream::kPipe});
  ASSERT_TRUE(longLine);
  EXPECT_EQ(longLine->ReadLine(deadline, 4), "0123");
}

TEST(ChildProcessTest, AProgramThatCannotRunIsNoChild) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("child_process_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "plain") << "echo hi\n";
  std::ofstream(dir / "no-hash-bang") << "echo from the shell\n";
  std::filesystem::permissions(dir / "no-hash-bang", std::filesystem::perms::owner_all);
  const struct {
    std::string program;
    int error;
  } cases[] = {{"no-such-program-anywhere", ENOENT}, {(dir / "plain").string(), EACCES}};
  for (const auto& c : cases) {
    int error = 0;
    EXPECT_FALSE(ChildProcess::Start({{c.program}}, error));
    EXPECT_EQ(error, c.error) << c.program;
  }
  auto script = Started({{(dir / "no-hash-bang").string()}, ChildStream::kPipe});
  ASSERT_TRUE(script);
  EXPECT_EQ(script->ReadLine(Clock::now() + 10s), "from the shell");
  std::filesystem::remove_all(dir);
}

TEST(ChildProcessTest, DeadlinesPassAndStopEscalates) {
  auto child =
      Started({{"sh", "-c", "trap '' TERM; echo ready; exec sleep 30"}, ChildStream::kPipe});
  ASSERT_TRUE(child);
  EXPECT_EQ(child->ReadLine(Clock::now() + 10s), "ready");
  const auto start = Clock::now();
  EXPECT_FALSE(child->ReadLine(Clock::now() + 100ms));
  EXPECT_FALSE(child->Wait(Clock::now() + 100ms));
  EXPECT_TRUE(child->Running());
  // SIGTERM is ignored: SIGKILL after the grace.
  EXPECT_EQ(child->Stop(100ms).signal, SIGKILL);
  EXPECT_LT(Clock::now() - start, 5s);

  auto polite = Started({{"sleep", "30"}});
  ASSERT_TRUE(polite);
  const ChildExit exit = polite->Stop(5s);
  EXPECT_EQ(exit.signal, SIGTERM);
  EXPECT_EQ(exit.Status(), 128 + SIGTERM);
}

// The program's own children share its group: stopping the group ends
// them too, and with them the last writer of the pipe.
TEST(ChildProcessTest, AGroupOfItsOwnIsStoppedWhole) {
  ChildLaunch launch{{"sh", "-c", "sleep 30 & echo started; wait"}, ChildStream::kPipe};
  launch.ownGroup = true;
  auto child = Started(launch);
  ASSERT_TRUE(child);
  EXPECT_EQ(getpgid(child->Id()), child->Id());
  EXPECT_EQ(child->ReadLine(Clock::now() + 10s), "started");
  child->Stop(0ms, SIGKILL);
  EXPECT_EQ(child->ReadLine(Clock::now() + 10s), "");
}

TEST(ChildProcessTest, TheChildStartsWithDefaultSignals) {
  struct sigaction ignore {
  }, before{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &before);
  sigset_t usr1, old;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &old);
  auto child = Started({{"grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status"}, ChildStream::kPipe});
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  sigaction(SIGPIPE, &before, nullptr);
  ASSERT_TRUE(child);
  const auto deadline = Clock::now() + 10s;
  EXPECT_EQ(child->ReadLine(deadline), "SigBlk:\t0000000000000000");
  EXPECT_EQ(child->ReadLine(deadline), "SigIgn:\t0000000000000000");
}

TEST(ChildProcessTest, OnlyTheStandardStreamsReachAChildThatClosesTheRest) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);  // inheritable, as a library might leave one
  const std::string probe = "for fd in " + std::to_string(fds[0]) + " " + std::to_string(fds[1]) +
                            "; do [ -e /proc/self/fd/$fd ] && echo open || echo closed; done";
  for (const bool closing : {false, true}) {
    ChildLaunch launch{{"sh", "-c", probe}, ChildStream::kPipe};
    launch.closeOtherDescriptors = closing;
    auto child = Started(launch);
    ASSERT_TRUE(child);
    const auto deadline = Clock::now() + 10s;
    EXPECT_EQ(child->ReadLine(deadline), closing ? "closed" : "open");
    EXPECT_EQ(child->ReadLine(deadline), closing ? "closed" : "open");
  }
  close(fds[0]);
  close(fds[1]);
}

// Linux ties the signal to the thread that started the child.
TEST(ChildProcessTest, TheParentsEndSignalsTheChild) {
  std::unique_ptr<ChildProcess> child;
  std::thread([&] {
    ChildLaunch launch{{"sleep", "30"}};
    launch.parentDeathSignal = SIGTERM;
    child = Started(launch);
  }).join();
  ASSERT_TRUE(child);
  const std::optional<ChildExit> exit = child->Wait(Clock::now() + 10s);
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->signal, SIGTERM);
}

}  // namespace
}  // namespace sorrel
