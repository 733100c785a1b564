// The worker side of TimedWebAccess: the seven-slot record that carries the
// request to the worker and the response back, the stream that hands it
// over, and the worker procedure.
#pragma once

#include <mutex>
#include <optional>

#include "http/bounded_run.h"
#include "http/web_access.h"
#include "text/text.h"

namespace sorrel {

class HttpStack;

// One field per slot, in slot order. Three slots change their meaning on
// the way back; their names say both.
struct TimedRequestRecord {
  ByteSet addressThenBody;  // 0: the request address; the response body, every byte read
  Text methodThenCookies;   // 1: "GET" or "POST"; the collected cookie text
  Text proxy;               // 2: "host:port", empty for a direct connection
  Text headers;             // 3: the extra request headers (the worker extends a copy)
  ByteSet postData;         // 4: the request body
  Text cookiesThenHeaders;  // 5: the cookie text to send; the raw response header block
  // 6: the redirect switch. The worker clears it when it could not open its
  // session, connection or request; the other slots then come back as sent.
  std::optional<bool> allowRedirect;
};

// Hands one record over. The caller writes it before the worker starts and
// reads it only after the worker has ended; the lock keeps an abandoned
// worker's late write from racing with anything.
class TimedRequestStream {
 public:
  void Write(const TimedRequestRecord& record);
  std::optional<TimedRequestRecord> Read() const;
  // Why the worker's exchange failed, as far as the record cannot tell.
  void SetFailure(RequestFailure failure);
  RequestFailure Failure() const;

 private:
  mutable std::mutex mutex_;
  std::optional<TimedRequestRecord> record_;
  RequestFailure failure_ = RequestFailure::kNone;
};

// Performs the exchange that `stream` describes and writes the answer back
// into it. On a worker thread (`pump` null) it touches no window. On the
// calling thread, over a stack that limits time, `limitMs` bounds the
// exchange and `pump` keeps the window alive while it waits. Once `stop` is
// set it reads no more.
void TimedRequestWorker(HttpStack& stack, TimedRequestStream& stream, StoppingPump* pump = nullptr,
                        std::uint32_t limitMs = 0, const StopFlag& stop = nullptr);

}  // namespace sorrel
