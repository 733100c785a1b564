// The program reaches every platform engine through the services it was
// given, and through nothing else.
#include "app/program.h"

#include <gtest/gtest.h>

#include "http/worker_thread.h"
#include "support/picture.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/fake_view.h"
#include "test_helpers/platform_engines.h"

namespace sorrel {
namespace {

// The process's own threads, counted.
class CountingThreads : public ThreadSystem {
 public:
  int started = 0;
  std::unique_ptr<WorkerThread> Start(std::function<void()> work) override {
    ++started;
    return PlatformThreads().Start(std::move(work));
  }
  WaitResult Wait(WorkerThread* thread, std::uint32_t milliseconds) override {
    return PlatformThreads().Wait(thread, milliseconds);
  }
  std::uint32_t TickCount() override { return PlatformThreads().TickCount(); }
};

// Turns any bytes into the same picture.
class FixedPictures : public PictureCodec {
 public:
  ByteSet Reencode(const ByteSet&, PictureFormat format) override {
    return format == PictureFormat::kGif ? BytesOf("GIF89a-fixed") : ByteSet();
  }
};

TEST(Program, ReachesEachEngineThroughItsServices) {
  // Abandoned request workers may outlive the test.
  static auto* stack = new test::FakeHttpStack();
  stack->script.body =
      "<img id='vfcode' src='/randcodeV2.php?rand=\" 输入上方\n"
      "<input name=\"file_id\" value=\"7\">";
  stack->script.rawHeaders = "HTTP/1.1 200 OK\r\n\r\n";
  CountingThreads threads;
  int regexEngines = 0;
  FixedPictures pictures;
  test::RecordingWindows windows;
  test::FakeView view;
  Program program({*stack, threads,
                   [&regexEngines] {
                     ++regexEngines;
                     return test::TestEngines().regexEngines();
                   },
                   pictures, test::TestEngines().base64, windows},
                  view, "http://127.0.0.1:9");
  EXPECT_EQ(&program.Http(), stack);

  // Over a stack that cannot bound its exchanges, each request runs on a
  // worker: the page and the picture, then the page and the login.
  view.address = "http://127.0.0.1:9/file/1";
  program.Workflows().RefreshCaptcha();
  EXPECT_EQ(view.picture, BytesOf("GIF89a-fixed"));
  EXPECT_EQ(threads.started, 2);

  view.captcha = "k7p2";
  program.Workflows().ResolveDownloadAddresses();
  EXPECT_EQ(threads.started, 4);
  EXPECT_GE(regexEngines, 1);
  EXPECT_EQ(program.State().FieldValues[0], "7");
  EXPECT_EQ(view.outcomes,
            (std::vector<ResolveOutcome>{ResolveOutcome::kResolved, ResolveOutcome::kNoAddress}));

  Text url = "http://127.0.0.1:9/";
  WebAccessArgs badMethod;
  badMethod.method = 7;
  program.Web().WebAccess(url, badMethod);
  EXPECT_EQ(windows.messages.size(), 1u);
}

}  // namespace
}  // namespace sorrel
