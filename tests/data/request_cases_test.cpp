// Runs every exchange under cases/: each file names the calls the tool makes,
// the answers a loopback server gives, and the exact bytes the server must
// receive. README.md beside this file describes the format. Both builds run
// the same files, each over its own stack.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h, which the stack's header brings in.
#include "http/wininet_stack.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "download/aria2_client.h"
#include "http/curl_stack.h"
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

#include "http/fake_stack.h"
#include "http/web_access.h"

namespace sorrel {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kBuild = "windows";
using Socket = SOCKET;
void CloseSocket(Socket socket) { closesocket(socket); }
WinInetHttpStack& SharedStack() {
  static auto* stack = new WinInetHttpStack();
  return *stack;
}
#else
constexpr const char* kBuild = "linux";
using Socket = int;
void CloseSocket(Socket socket) { ::close(socket); }
// Workers abandoned at a time-out may still use the stack after a case ends.
CurlHttpStack& SharedStack() {
  static auto* stack = new CurlHttpStack();
  return *stack;
}
#endif

// A plain HTTP server on one loopback address that answers the n-th request
// with the n-th answer (later ones with the last) and keeps every request as
// received. One thread polls the listener and every connection, so that an
// idle kept-alive connection never holds up a new one.
class ExchangeServer {
 public:
  explicit ExchangeServer(const std::string& address) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
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
#ifdef _WIN32
    WSACleanup();
#endif
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
        const int n = FD_ISSET(it->first, &readable)
                          ? static_cast<int>(recv(it->first, buffer, sizeof buffer, 0))
                          : -2;
        if (n == -2 || (n > 0 && Take(it->first, it->second.append(buffer, n)))) {
          ++it;
        } else {
          CloseSocket(it->first);
          it = pending.erase(it);
        }
      }
    }
    for (const auto& [socket, bytes] : pending) CloseSocket(socket);
  }

  // Answers every whole request in `bytes`; false when an answer could not go.
  bool Take(Socket socket, std::string& bytes) {
    for (;;) {
      const std::size_t headEnd = bytes.find("\r\n\r\n");
      if (headEnd == bytes.npos) return true;
      std::string head = bytes.substr(0, headEnd + 2);
      std::transform(head.begin(), head.end(), head.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      const std::size_t field = head.find("\r\ncontent-length:");
      const std::size_t total =
          headEnd + 4 + (field == head.npos ? 0 : std::stoul(head.substr(field + 17)));
      if (bytes.size() < total) return true;
      std::string answer;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(bytes.substr(0, total));
        if (!answers_.empty()) answer = answers_[std::min(served_++, answers_.size() - 1)];
      }
      bytes.erase(0, total);
      if (send(socket, answer.data(), static_cast<int>(answer.size()), 0) !=
          static_cast<int>(answer.size())) {
        return false;
      }
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

// One call of the tool with what it must give back; the sections a case
// leaves out are not checked.
struct Call {
  std::map<std::string, std::string> keys;
  std::map<std::string, std::string> sections;
};

struct Case {
  std::vector<Call> calls;
  std::vector<std::string> answers;
  std::vector<std::string> requests;
};

// Only %HOST%, %hex[..]% and %repeat[N text]% are special.
std::string Expand(const std::string& text, const std::string& host) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("]%", at);
    if (text.compare(at, 6, "%HOST%") == 0) {
      out += host;
      at += 6;
    } else if (text.compare(at, 5, "%hex[") == 0 && end != text.npos) {
      std::istringstream pairs(text.substr(at + 5, end - at - 5));
      for (std::string pair; pairs >> pair;) {
        for (std::size_t i = 0; i + 1 < pair.size(); i += 2) {
          out += static_cast<char>(std::stoi(pair.substr(i, 2), nullptr, 16));
        }
      }
      at = end + 2;
    } else if (text.compare(at, 8, "%repeat[") == 0 && end != text.npos) {
      const std::size_t space = text.find(' ', at);
      const std::string unit = text.substr(space + 1, end - space - 1);
      for (int n = std::stoi(text.substr(at + 8, space - at - 8)); n > 0; --n) out += unit;
      at = end + 2;
    } else {
      out += text[at++];
    }
  }
  return out;
}

std::string Crlf(std::string lines) {
  std::string out;
  for (char c : lines) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

// A section's bytes: a message's head up to its empty line ends each line in
// CR LF, a header list ends every line so, and the rest is as written without
// the line end that closes the section.
std::string Bytes(const std::string& name, std::string raw, const std::string& host) {
  if (name == "headers") return Expand(Crlf(raw), host);
  std::string head;
  if (name == "answer" || name == "request" || name == "response-headers") {
    const std::size_t blank = raw.find("\n\n");
    const std::size_t split = blank == raw.npos ? raw.size() : blank + 2;
    head = Crlf(raw.substr(0, split));
    raw.erase(0, split);
  }
  if (raw.ends_with('\n')) raw.pop_back();
  return Expand(head, host) + Expand(raw, host);
}

Case Read(const fs::path& file, const std::string& host) {
  std::ifstream in(file, std::ios::binary);
  Case c;
  std::string section;
  std::string raw;
  auto close = [&] {
    if (section == "call") {
      Call call;
      std::istringstream lines(raw);
      for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(": ");
        if (colon != line.npos)
          call.keys[line.substr(0, colon)] = Expand(line.substr(colon + 2), host);
      }
      c.calls.push_back(std::move(call));
    } else if (section == "answer") {
      c.answers.push_back(Bytes(section, raw, host));
    } else if (section == "request") {
      c.requests.push_back(Bytes(section, raw, host));
    } else if (!section.empty() && !c.calls.empty()) {
      c.calls.back().sections[section] = Bytes(section, raw, host);
    }
    raw.clear();
  };
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("--- ", 0) == 0) {
      close();
      // "--- request windows": a section for one build only.
      const std::size_t space = line.find(' ', 4);
      const bool ours = space == line.npos || line.substr(space + 1) == kBuild;
      section = ours ? line.substr(4, space == line.npos ? line.npos : space - 4) : "";
    } else {
      raw += line + "\n";
    }
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
  // Runs one call; what it gives back goes into the sections a case may check.
  std::map<std::string, std::string> Run(const Call& call) {
    auto key = [&](const std::string& name) {
      const auto at = call.keys.find(name);
      return at == call.keys.end() ? std::string() : at->second;
    };
    auto section = [&](const std::string& name) {
      const auto at = call.sections.find(name);
      return at == call.sections.end() ? std::string() : at->second;
    };
    std::map<std::string, std::string> got;
    if (!key("stored-cookie").empty()) {
      std::istringstream words(key("stored-cookie"));
      std::string url, name, data;
      words >> url >> name >> std::ws;
      std::getline(words, data);
      SharedStack().SetCookie(url, name, data);
    }
    const std::string operation = key("operation");
    Text url = key("url");
    if (operation == "page") {
      Text headers = section("headers");
      const ByteSet body =
          client.WebAccess(url, {.method = key("method").empty() ? 0 : std::stoi(key("method")),
                                 .headers = &headers,
                                 .postData = section("post"),
                                 .cookies = key("cookies"),
                                 .responseHeaders = &got["response-headers"]});
      got["body"] = TextOf(body);
    } else if (operation == "timed") {
      TimedWebAccessArgs args{
          .method = key("method").empty() ? 0 : std::stoi(key("method")),
          .headers = section("headers"),
          .postData = BytesOf(section("post")),
          .cookies = key("cookies"),
          .timeoutSeconds = 5,
          .responseHeaders = &got["response-headers"],
          .responseCookies = &got["response-cookies"],
      };
      if (key("redirect") == "no") args.allowRedirect = false;
      got["body"] = TextOf(client.TimedWebAccess(url, args));
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
    got["url"] = url;
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
    if (call.keys.at("operation") == "aria2.addUri") GTEST_SKIP() << "no aria2 hand-off here";
  }
#endif
  server.Answer(c.answers);
  for (std::size_t i = 0; i < c.calls.size(); ++i) {
    SCOPED_TRACE("call " + std::to_string(i + 1));
    const Call& call = c.calls[i];
    const auto got = Run(call);
    for (const auto& [name, expected] : call.sections) {
      if (name == "headers" || name == "post") continue;
      EXPECT_EQ(got.count(name) ? got.at(name) : "(not given back)", expected) << name;
    }
    if (call.keys.count("url-after")) {
      EXPECT_EQ(got.at("url"), call.keys.at("url-after"));
    }
  }
  const std::vector<std::string> received = server.requests();
  ASSERT_EQ(received.size(), c.requests.size());
  for (std::size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(received[i], c.requests[i]) << "request " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RequestCase, ::testing::ValuesIn(CaseNames()),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace_if(
                               name.begin(), name.end(), [](char c) { return !std::isalnum(c); },
                               '_');
                           return name;
                         });

}  // namespace
}  // namespace sorrel
