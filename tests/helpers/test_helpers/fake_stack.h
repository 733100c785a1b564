// An HttpStack that records every call and serves a scripted response, and a
// window system that records notice boxes.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/http_stack.h"
#include "support/notice.h"

namespace sorrel::test {

// The default header lines both request operations add, written out here so
// that the tests pin the exact bytes independently of the code.
inline const Text kAccept =
    "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";
inline const Text kLanguage = "Accept-Language: zh-cn\r\n";

struct FakeScript {
  bool failOpen = false;
  bool failConnect = false;
  bool failRequest = false;
  std::string body;
  std::string rawHeaders;                           // empty: no response at all
  RequestFailure failSend = RequestFailure::kNone;  // kNone: the send succeeds
};

struct FakeCookie {
  std::string url, name, data;
  bool operator==(const FakeCookie&) const = default;
};

class FakeHttpStack : public HttpStack {
 public:
  FakeScript script;

  // What happened, in order: "open <agent>|<proxy>", "connect <host>:<port>",
  // "request <verb> <path> <version> <flags hex>", "send", "read <size>",
  // "query <length>", "close request", "close connection", "close session".
  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::string sentHeaders() const {
    std::lock_guard lock(mutex_);
    return sentHeaders_;
  }
  std::string sentBody() const {
    std::lock_guard lock(mutex_);
    return sentBody_;
  }
  std::vector<FakeCookie> cookies() const {
    std::lock_guard lock(mutex_);
    return cookies_;
  }
  bool pumpGiven() const {
    std::lock_guard lock(mutex_);
    return pumpGiven_;
  }
  // The time limit the last request was given; 0 for none.
  std::uint32_t limitMs() const {
    std::lock_guard lock(mutex_);
    return limitMs_;
  }

  void Log(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  std::unique_ptr<HttpSession> Open(std::string_view agent, std::string_view proxy,
                                    EventPump* waitPump) override;
  bool SetCookie(std::string_view url, std::string_view name, std::string_view data) override {
    std::lock_guard lock(mutex_);
    cookies_.push_back({std::string(url), std::string(name), std::string(data)});
    return true;
  }
  // The name=value pairs of every cookie set for exactly this address.
  std::string CookieLine(std::string_view url) override {
    std::lock_guard lock(mutex_);
    std::string line;
    for (const FakeCookie& c : cookies_) {
      if (c.url != url) continue;
      if (!line.empty()) line += "; ";
      line += c.name + "=" + c.data.substr(0, c.data.find(';'));
    }
    return line;
  }
  // False: its requests run on workers, as on a stack that cannot bound
  // them; true: on the calling thread, with the pump.
  bool limits = false;
  bool LimitsTime() override { return limits; }

 private:
  friend class FakeRequest;
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::string sentHeaders_;
  std::string sentBody_;
  std::vector<FakeCookie> cookies_;
  bool pumpGiven_ = false;
  std::uint32_t limitMs_ = 0;
};

class FakeRequest : public HttpRequest {
 public:
  explicit FakeRequest(FakeHttpStack& stack) : stack_(stack) {}
  ~FakeRequest() override { stack_.Log("close request"); }
  bool Send(std::string_view headers, std::string_view body) override {
    {
      std::lock_guard lock(stack_.mutex_);
      stack_.sentHeaders_ = headers;
      stack_.sentBody_ = body;
    }
    stack_.Log("send");
    return stack_.script.failSend == RequestFailure::kNone;
  }
  void LimitTime(std::uint32_t milliseconds) override {
    std::lock_guard lock(stack_.mutex_);
    stack_.limitMs_ = milliseconds;
  }
  void Cancel() override {}
  RequestFailure Failure() const override { return stack_.script.failSend; }
  std::size_t Read(std::uint8_t* buffer, std::size_t size) override {
    stack_.Log("read " + std::to_string(size));
    if (stack_.script.failSend != RequestFailure::kNone) return 0;
    const std::string& body = stack_.script.body;
    const std::size_t n = std::min(size, body.size() - at_);
    std::copy(body.begin() + at_, body.begin() + at_ + n, buffer);
    at_ += n;
    return n;
  }
  bool QueryRawHeaders(char* buffer, std::uint32_t& length) override {
    stack_.Log("query " + std::to_string(length));
    const std::string& raw = stack_.script.rawHeaders;
    if (raw.empty()) return false;
    if (length < raw.size() + 1) {
      length = static_cast<std::uint32_t>(raw.size() + 1);
      return false;
    }
    std::copy(raw.begin(), raw.end(), buffer);
    buffer[raw.size()] = '\0';
    length = static_cast<std::uint32_t>(raw.size());
    return true;
  }

 private:
  FakeHttpStack& stack_;
  std::size_t at_ = 0;
};

class FakeConnection : public HttpConnection {
 public:
  explicit FakeConnection(FakeHttpStack& stack) : stack_(stack) {}
  ~FakeConnection() override { stack_.Log("close connection"); }
  std::unique_ptr<HttpRequest> OpenRequest(std::string_view verb, std::string_view path,
                                           std::string_view version, std::uint32_t flags) override {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", flags);
    stack_.Log("request " + std::string(verb) + " " + std::string(path) + " " +
               std::string(version) + " " + hex);
    if (stack_.script.failRequest) return nullptr;
    return std::make_unique<FakeRequest>(stack_);
  }

 private:
  FakeHttpStack& stack_;
};

class FakeSession : public HttpSession {
 public:
  explicit FakeSession(FakeHttpStack& stack) : stack_(stack) {}
  ~FakeSession() override { stack_.Log("close session"); }
  std::unique_ptr<HttpConnection> Connect(std::string_view host, int port) override {
    stack_.Log("connect " + std::string(host) + ":" + std::to_string(port));
    if (stack_.script.failConnect) return nullptr;
    return std::make_unique<FakeConnection>(stack_);
  }

 private:
  FakeHttpStack& stack_;
};

inline std::unique_ptr<HttpSession> FakeHttpStack::Open(std::string_view agent,
                                                        std::string_view proxy,
                                                        EventPump* waitPump) {
  {
    std::lock_guard lock(mutex_);
    pumpGiven_ = waitPump != nullptr;
  }
  Log("open " + std::string(agent) + "|" + std::string(proxy));
  if (script.failOpen) return nullptr;
  return std::make_unique<FakeSession>(*this);
}

// A desktop without windows whose message boxes are recorded and answered
// with OK.
class RecordingWindows : public WindowSystem {
 public:
  std::vector<Text> messages;
  std::vector<Text> titles;
  std::vector<TopLevel> EnumerateTopLevelWindows() override { return {}; }
  std::uint32_t CurrentProcessId() override { return 0; }
  int MessageBox(WindowHandle, const Text& message, const Text& title, int) override {
    messages.push_back(message);
    titles.push_back(title);
    return 1;
  }
};

class CountingPump : public EventPump {
 public:
  int count = 0;
  void ProcessPendingEvents() override { ++count; }
};

// Runs `hook` at its first pass, like one click queued while a request waits.
class HookPump : public EventPump {
 public:
  explicit HookPump(std::function<void()> hook) : hook_(std::move(hook)) {}
  void ProcessPendingEvents() override {
    if (!hook_) return;
    auto hook = std::move(hook_);
    hook_ = nullptr;
    hook();
  }

 private:
  std::function<void()> hook_;
};

// A stack whose every session, connection and request is a fresh `Self`,
// which says how a request is sent and read. It keeps no cookies and cannot
// bound an exchange, so a timed call runs it on a worker.
template <typename Self>
class OneAnswerStack : public HttpStack,
                       public HttpSession,
                       public HttpConnection,
                       public HttpRequest {
 public:
  std::unique_ptr<HttpSession> Open(std::string_view, std::string_view, EventPump*) override {
    return std::make_unique<Self>();
  }
  bool SetCookie(std::string_view, std::string_view, std::string_view) override { return true; }
  std::string CookieLine(std::string_view) override { return {}; }
  bool LimitsTime() override { return false; }
  std::unique_ptr<HttpConnection> Connect(std::string_view, int) override {
    return std::make_unique<Self>();
  }
  std::unique_ptr<HttpRequest> OpenRequest(std::string_view, std::string_view, std::string_view,
                                           std::uint32_t) override {
    return std::make_unique<Self>();
  }
  void LimitTime(std::uint32_t) override {}
  void Cancel() override {}
  RequestFailure Failure() const override { return RequestFailure::kNone; }
  bool QueryRawHeaders(char*, std::uint32_t&) override { return false; }
};

}  // namespace sorrel::test
