// Workers as native threads; the caller waits on the thread handle and wakes
// early for the window messages of its queue (QS_ALLEVENTS: input, posted,
// timer, paint and hot-key messages).
#include <windows.h>

#include "http/worker_thread.h"

namespace sorrel {

namespace {

// A wait without a thread to wait on sleeps this long at most, so that a
// caller looping until its time-out does not spin.
constexpr DWORD kFailedWaitMs = 10;

class Win32WorkerThread : public WorkerThread {
 public:
  explicit Win32WorkerThread(HANDLE handle) : handle_(handle) {}
  // Closing the handle does not stop the thread: an abandoned worker runs on
  // and frees its own work when it ends.
  ~Win32WorkerThread() override { CloseHandle(handle_); }
  HANDLE handle() const { return handle_; }

 private:
  HANDLE handle_;
};

DWORD WINAPI RunWork(LPVOID parameter) {
  auto* work = static_cast<std::function<void()>*>(parameter);
  try {
    (*work)();
  } catch (...) {
    // Nothing may leave a thread procedure.
  }
  delete work;
  return 0;
}

class Win32ThreadSystem : public ThreadSystem {
 public:
  std::unique_ptr<WorkerThread> Start(std::function<void()> work) override {
    auto* owned = new std::function<void()>(std::move(work));
    HANDLE handle = CreateThread(nullptr, 0, RunWork, owned, 0, nullptr);
    if (handle == nullptr) {
      delete owned;
      return nullptr;
    }
    return std::make_unique<Win32WorkerThread>(handle);
  }

  WaitResult Wait(WorkerThread* thread, std::uint32_t milliseconds) override {
    auto* worker = dynamic_cast<Win32WorkerThread*>(thread);
    if (worker == nullptr) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                milliseconds < kFailedWaitMs ? milliseconds : kFailedWaitMs,
                                QS_ALLEVENTS);
      return WaitResult::kFailed;
    }
    HANDLE handle = worker->handle();
    switch (MsgWaitForMultipleObjects(1, &handle, FALSE, milliseconds, QS_ALLEVENTS)) {
      case WAIT_OBJECT_0:
        return WaitResult::kFinished;
      case WAIT_OBJECT_0 + 1:
        return WaitResult::kEvents;
      case WAIT_TIMEOUT:
        return WaitResult::kTimedOut;
      default:
        return WaitResult::kFailed;
    }
  }

  std::uint32_t TickCount() override { return GetTickCount(); }
};

}  // namespace

ThreadSystem& PlatformThreads() {
  static Win32ThreadSystem threads;
  return threads;
}

}  // namespace sorrel
