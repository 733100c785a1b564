// The worker side of TimedWebAccess: the seven-slot record that carries the
// request to the worker and the response back, the in-memory stream that
// hands it over, and the worker procedure.
#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "http/web_access.h"
#include "text/text.h"

namespace sorrel {

class HttpStack;

// Going out: address, method, proxy, headers, body, cookie text, redirect
// switch ("真"/"假"). Coming back: body, collected cookies, proxy, headers,
// request body, raw header block, redirect switch.
using TimedRequestRecord = std::vector<ByteSet>;
constexpr std::size_t kTimedRequestSlots = 7;

// One serialized record. The caller writes it before the worker starts and
// reads it only after the worker has ended; the lock keeps an abandoned
// worker's late write from racing with anything.
class TimedRequestStream {
 public:
  bool Write(const TimedRequestRecord& record);
  std::optional<TimedRequestRecord> Read() const;
  // Why the worker's exchange failed, as far as the record cannot tell.
  void SetFailure(RequestFailure failure);
  RequestFailure Failure() const;

 private:
  mutable std::mutex mutex_;
  ByteSet bytes_;
  RequestFailure failure_ = RequestFailure::kNone;
};

// Performs the exchange that `stream` describes and writes the answer back
// into it. On a worker thread it touches no window. On the calling thread,
// over a stack that limits time, `limitMs` (when not 0) bounds the exchange
// and `pump` keeps the window alive while it waits.
void TimedRequestWorker(HttpStack& stack, TimedRequestStream& stream, EventPump* pump = nullptr,
                        std::uint32_t limitMs = 0);

}  // namespace sorrel
