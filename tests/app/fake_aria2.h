// An aria2 engine for the downloads' tests, on loopback: it answers the
// JSON-RPC calls the model makes as the test says and notes them.
#pragma once

#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "test_helpers/loopback_server.h"

namespace sorrel::test {

using nlohmann::json;

// An aria2 JSON-RPC engine that does nothing but note each call and answer
// what the test says: the status of every transfer, and how many times a
// result is refused before it can be removed.
class FakeAria2 {
 public:
  FakeAria2()
      : server_([this](const std::string& request, LoopbackServer::Connection& c) {
          c.Write(HttpResponse(Answer(request)));
        }) {}

  std::string Address() const { return "http://" + server_.authority() + "/jsonrpc"; }
  void Report(json status) {
    std::lock_guard<std::mutex> hold(mutex_);
    status_ = std::move(status);
  }
  void RefuseResults(int times) {
    std::lock_guard<std::mutex> hold(mutex_);
    refusals_ = times;
  }
  // "method params" of every call but the status questions.
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> hold(mutex_);
    return calls_;
  }
  void Forget() {
    std::lock_guard<std::mutex> hold(mutex_);
    calls_.clear();
  }

 private:
  std::string Answer(const std::string& request) {
    const json call = json::parse(request.substr(request.find("\r\n\r\n") + 4));
    const std::string method = call["method"];
    const json params = call["params"];
    std::lock_guard<std::mutex> hold(mutex_);
    json reply = {{"jsonrpc", "2.0"}, {"id", call["id"]}};
    if (method == "aria2.tellStatus") {
      reply["result"] = status_;
      reply["result"]["gid"] = params[0];
      return reply.dump();
    }
    calls_.push_back(method + " " + params.dump());
    if (method == "aria2.addUri") {
      reply["result"] = "00000000000000a" + std::to_string(++added_);
    } else if (method == "aria2.removeDownloadResult" && refusals_ > 0) {
      --refusals_;
      reply["error"] = {{"code", 1}, {"message", "Could not remove download result"}};
    } else {
      reply["result"] = method == "aria2.removeDownloadResult" ? json("OK") : params[0];
    }
    return reply.dump();
  }

  std::mutex mutex_;
  json status_ = {{"status", "waiting"}};
  int refusals_ = 0;
  int added_ = 0;
  std::vector<std::string> calls_;
  LoopbackServer server_;
};

}  // namespace sorrel::test
