// Runs every exchange under cases/: each file names the calls the tool makes,
// the answers a loopback server gives, and the exact bytes the server must
// receive. README.md beside this file describes the format. Both builds run
// the same files, each over its own stack.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h, which the stack's header brings in.
#include "http/http_stack_wininet.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "download/aria2_client.h"
#include "http/http_stack_curl.h"
#include "http/worker_thread.h"
#endif
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http/web_access.h"
#include "test_helpers/fake_stack.h"

namespace sorrel {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kBuild = "windows";
using PlatformStack = WinInetHttpStack;
using Socket = SOCKET;
void CloseSocket(Socket socket) { closesocket(socket); }
#else
constexpr const char* kBuild = "linux";
using PlatformStack = CurlHttpStack;
using Socket = int;
void CloseSocket(Socket socket) { ::close(socket); }
#endif

// Workers abandoned at a time-out may still use the stack after a case ends.
HttpStack& SharedStack() {
  static auto* stack = new PlatformStack();
  return *stack;
}

// A plain HTTP server on one loopback address that answers the n-th request
// with the n-th answer (later ones with the last) and keeps every request as
// received. One thread polls the listener and every connection, so that an
// idle kept-alive connection never holds up a new one.
class ExchangeServer {
 public:
  explicit ExchangeServer(const std::string& address) {
#ifdef _WIN32
    static WSADATA data;
    [[maybe_unused]] static const int started = WSAStartup(MAKEWORD(2, 2), &data);
#endif
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    inet_pton(AF_INET, address.c_str(), &at.sin_addr);
    socklen_t length = sizeof at;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        listen(listener_, 16) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length) == 0) {
      host_ = address + ":" + std::to_string(ntohs(at.sin_port));
      thread_ = std::thread([this] { Serve(); });
    }
  }
  ~ExchangeServer() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    CloseSocket(listener_);
  }

  // "127.0.0.N:port", or empty when the address could not be taken.
  const std::string& host() const { return host_; }
  void Answer(std::vector<std::string> answers) {
    std::lock_guard lock(mutex_);
    answers_ = std::move(answers);
  }
  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    std::map<Socket, std::string> pending;
    while (!stopping_) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(listener_, &readable);
      Socket highest = listener_;
      for (const auto& [socket, bytes] : pending) {
        FD_SET(socket, &readable);
        highest = std::max(highest, socket);
      }
      timeval wait{0, 20'000};
      if (select(static_cast<int>(highest) + 1, &readable, nullptr, nullptr, &wait) <= 0) continue;
      if (FD_ISSET(listener_, &readable)) pending[accept(listener_, nullptr, nullptr)];
      for (auto it = pending.begin(); it != pending.end();) {
        char buffer[16384];
        int n = 1;  // a connection with nothing to read stays
        if (FD_ISSET(it->first, &readable) &&
            (n = static_cast<int>(recv(it->first, buffer, sizeof buffer, 0))) > 0) {
          Take(it->first, it->second.append(buffer, n));
        }
        if (n > 0) {
          ++it;
        } else {
          CloseSocket(it->first);
          it = pending.erase(it);
        }
      }
    }
    for (const auto& [socket, bytes] : pending) CloseSocket(socket);
  }

  // Answers every whole request in `bytes` and leaves the rest.
  void Take(Socket socket, std::string& bytes) {
    for (std::size_t headEnd; (headEnd = bytes.find("\r\n\r\n")) != bytes.npos;) {
      std::string head = bytes.substr(0, headEnd + 2);
      std::transform(head.begin(), head.end(), head.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      const std::size_t field = head.find("\r\ncontent-length:");
      const std::size_t total =
          headEnd + 4 + (field == head.npos ? 0 : std::stoul(head.substr(field + 17)));
      if (bytes.size() < total) return;
      std::string answer;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(bytes.substr(0, total));
        if (!answers_.empty()) answer = answers_[std::min(served_++, answers_.size() - 1)];
      }
      bytes.erase(0, total);
      send(socket, answer.data(), static_cast<int>(answer.size()), 0);
    }
  }

  std::vector<std::string> answers_;
  Socket listener_;
  std::string host_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::size_t served_ = 0;
  std::vector<std::string> requests_;
};

// One call of the tool: its keys and sections by name, with what it must
// give back under "body", "response-headers", "response-cookies", "error"
// and "url-after"; what a case leaves out is not checked.
using Call = std::map<std::string, std::string>;

struct Case {
  std::vector<Call> calls;
  std::vector<std::string> answers;
  std::vector<std::string> requests;
};

// Only %HOST%, %hex[d1e9]% and %repeat[N text]% are special.
std::string Expand(const std::string& text, const std::string& host) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("]%", at);
    if (text.compare(at, 6, "%HOST%") == 0) {
      out += host;
      at += 6;
    } else if (text.compare(at, 5, "%hex[") == 0 && end != text.npos) {
      for (at += 5; at + 1 < end; at += 2) {
        out += static_cast<char>(std::stoi(text.substr(at, 2), nullptr, 16));
      }
      at = end + 2;
    } else if (text.compare(at, 8, "%repeat[") == 0 && end != text.npos) {
      const std::size_t space = text.find(' ', at);
      for (int n = std::stoi(text.substr(at + 8)); n > 0; --n) {
        out += text.substr(space + 1, end - space - 1);
      }
      at = end + 2;
    } else {
      out += text[at++];
    }
  }
  return out;
}

// A section's bytes: in a message every line end up to and including its
// empty line is CR LF, in a header list every one is, and the rest is as
// written without the line end that closes the section.
std::string Bytes(const std::string& name, std::string raw, const std::string& host) {
  std::size_t split = 0;
  if (name == "headers") split = raw.size();
  if (name == "answer" || name == "request" || name == "response-headers") {
    split = raw.find("\n\n") == raw.npos ? raw.size() : raw.find("\n\n") + 2;
  }
  std::string head;
  for (char c : raw.substr(0, split)) head += c == '\n' ? std::string("\r\n") : std::string(1, c);
  raw.erase(0, split);
  if (raw.ends_with('\n')) raw.pop_back();
  return Expand(head + raw, host);
}

Case Read(const fs::path& file, const std::string& host) {
  std::ifstream in(file, std::ios::binary);
  Case c;
  std::string section;
  std::string raw;
  auto close = [&] {
    if (section == "call") {
      c.calls.emplace_back();
      std::istringstream lines(raw);
      for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(": ");
        if (colon != line.npos) {
          c.calls.back()[line.substr(0, colon)] = Expand(line.substr(colon + 2), host);
        }
      }
    } else if (section == "answer" || section == "request") {
      (section == "answer" ? c.answers : c.requests).push_back(Bytes(section, raw, host));
    } else if (!section.empty() && !c.calls.empty()) {
      c.calls.back()[section] = Bytes(section, raw, host);
    }
    raw.clear();
  };
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("--- ", 0) != 0) {
      raw += line + "\n";
      continue;
    }
    close();
    // "--- request windows": a section for one build only.
    const std::size_t space = line.find(' ', 4);
    const bool ours = space == line.npos || line.substr(space + 1) == kBuild;
    section = ours ? line.substr(4, space - 4) : "";
  }
  close();
  return c;
}

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(SORREL_CASES_DIR)) {
    if (entry.path().extension() == ".case") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class RequestCase : public ::testing::TestWithParam<std::string> {
 protected:
  // Runs one call; what it gives back goes under the names a case checks.
  Call Run(const Call& call, const std::string& host) {
    auto key = [&](const char* name) { return call.count(name) ? call.at(name) : std::string(); };
    Call got;
    if (const std::string cookie = key("stored-cookie"); !cookie.empty()) {
      const std::size_t equals = cookie.find('=');
      SharedStack().SetCookie("http://" + host + "/", cookie.substr(0, equals),
                              cookie.substr(equals + 1));
    }
    const std::string operation = key("operation");
    const int method = key("method").empty() ? 0 : std::stoi(key("method"));
    auto whole = [](const ByteSet& bytes) { return std::string(bytes.begin(), bytes.end()); };
    Text url = key("url");
    if (operation == "page") {
      Text headers = key("headers");
      got["body"] = whole(client.WebAccess(url, {.method = method,
                                                 .headers = &headers,
                                                 .postData = key("post"),
                                                 .cookies = key("cookies"),
                                                 .responseHeaders = &got["response-headers"]}));
    } else if (operation == "timed") {
      TimedWebAccessArgs args{
          .method = method,
          .headers = key("headers"),
          .postData = BytesOf(key("post")),
          .cookies = key("cookies"),
          .timeoutSeconds = 5,
          .responseHeaders = &got["response-headers"],
          .responseCookies = &got["response-cookies"],
      };
      if (key("redirect") == "no") args.allowRedirect = false;
      got["body"] = whole(client.TimedWebAccess(url, args));
#ifndef _WIN32
    } else if (operation == "aria2.addUri") {
      Aria2Client aria2(SharedStack(), PlatformThreads(), {url, key("secret")});
      Aria2Download download{.address = key("address"),
                             .fileName = key("out"),
                             .referer = key("referer"),
                             .userAgent = key("user-agent")};
      Aria2Error error;
      got["body"] = aria2.AddUri(download, error);
      got["error"] = error.message;
#endif
    } else {
      ADD_FAILURE() << "no operation \"" << operation << "\"";
    }
    got["url-after"] = url;
    return got;
  }

  test::CountingPump pump;
  test::RecordingWindows windows;
  WebClient client{SharedStack(), pump, windows};
};

TEST_P(RequestCase, Exchange) {
  // Each run of a case on an address of its own: a stack whose cookies
  // cannot be cleared keeps them apart by host.
  static int runs = 0;
  ExchangeServer server("127.0.0." + std::to_string(2 + runs++ % 250));
  ASSERT_FALSE(server.host().empty());
  const Case c = Read(fs::path(SORREL_CASES_DIR) / (GetParam() + ".case"), server.host());
  ASSERT_FALSE(c.calls.empty()) << "a case makes at least one call";
#ifdef _WIN32
  for (const Call& call : c.calls) {
    if (call.at("operation") == "aria2.addUri") GTEST_SKIP() << "no aria2 hand-off here";
  }
#endif
  server.Answer(c.answers);
  for (std::size_t i = 0; i < c.calls.size(); ++i) {
    SCOPED_TRACE("call " + std::to_string(i + 1));
    Call got = Run(c.calls[i], server.host());
    for (const char* name :
         {"body", "response-headers", "response-cookies", "error", "url-after"}) {
      if (c.calls[i].count(name)) {
        EXPECT_EQ(got[name], c.calls[i].at(name)) << name;
      }
    }
  }
  const std::vector<std::string> received = server.requests();
  ASSERT_EQ(received.size(), c.requests.size());
  for (std::size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(received[i], c.requests[i]) << "request " << i + 1;
  }
}

// A folder the build cannot find would otherwise pass with no case at all.
TEST(RequestCases, AreFound) { EXPECT_GE(CaseNames().size(), 15u) << SORREL_CASES_DIR; }

INSTANTIATE_TEST_SUITE_P(Cases, RequestCase, ::testing::ValuesIn(CaseNames()),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace sorrel
