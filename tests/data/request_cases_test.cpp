// Runs every exchange under cases/: each file names the calls the tool makes,
// the answers a loopback server gives, and the exact bytes the server must
// receive. README.md beside this file describes the format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "download/aria2_client.h"
#include "http/curl_stack.h"
#include "http/fake_stack.h"
#include "http/loopback_server.h"
#include "http/web_access.h"
#include "http/worker_thread.h"

namespace sorrel {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;

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
      section = line.substr(4);
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

// Workers abandoned at a time-out may still use the stack after a case ends.
CurlHttpStack& SharedStack() {
  static auto* stack = new CurlHttpStack();
  return *stack;
}

class RequestCase : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { ProcessCookieStore().Clear(); }

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
    } else if (operation == "aria2.addUri") {
      Aria2Client aria2(SharedStack(), PlatformThreads(), {url, key("secret")});
      Aria2Download download{.address = key("address"),
                             .fileName = key("out"),
                             .referer = key("referer"),
                             .userAgent = key("user-agent")};
      Aria2Error error;
      got["body"] = aria2.AddUri(download, error);
      got["error"] = error.message;
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
  // The n-th request gets the n-th answer, later ones the last.
  std::mutex mutex;
  std::vector<std::string> answers;
  std::size_t served = 0;
  LoopbackServer server([&](const std::string&, LoopbackServer::Connection& connection) {
    std::unique_lock lock(mutex);
    if (answers.empty()) return;
    const std::string answer = answers[std::min(served++, answers.size() - 1)];
    lock.unlock();
    connection.Write(answer);
  });
  const Case c = Read(fs::path(SORREL_CASES_DIR) / (GetParam() + ".case"), server.authority());
  ASSERT_FALSE(c.calls.empty()) << "a case makes at least one call";
  {
    std::lock_guard lock(mutex);
    answers = c.answers;
  }
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
