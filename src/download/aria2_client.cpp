#include "download/aria2_client.h"

#include <nlohmann/json.hpp>

#include "http/http_call.h"

namespace sorrel {

namespace {

using nlohmann::json;

constexpr std::string_view kClientAgent = "sorrel-resolver";

std::string Sentence(Aria2Failure failure, const Aria2Endpoint& endpoint, std::uint32_t timeoutMs,
                     std::string_view detail) {
  switch (failure) {
    case Aria2Failure::kBadAddress:
      return "aria2 的地址“" + endpoint.address + "”不对，应当以 http:// 或 https:// 开头。";
    case Aria2Failure::kUnreachable:
      return "aria2 没有应答：连不上 " + endpoint.address + "。请确认 aria2 正在运行并开启了 RPC。";
    case Aria2Failure::kTimedOut:
      return "aria2 在 " + std::to_string(timeoutMs / 1000) + " 秒内没有应答：" + endpoint.address +
             "。";
    case Aria2Failure::kNotJsonRpc:
      return endpoint.address + " 的应答不是 aria2 的 JSON-RPC 应答，请检查 aria2 的地址。";
    case Aria2Failure::kUnauthorized:
      return "aria2 拒绝了请求：密钥不对（Unauthorized）。请检查 aria2 的 RPC 密钥。";
    case Aria2Failure::kRefused:
      return "aria2 报告错误：" + std::string(detail);
    case Aria2Failure::kNone:
      break;
  }
  return {};
}

long long NumberMember(const json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return 0;
  try {
    return std::stoll(it->get<std::string>());
  } catch (const std::exception&) {
    return 0;
  }
}

std::string StringMember(const json& object, const char* name) {
  const auto it = object.find(name);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string RequestBody(std::string_view method, std::string_view id, std::string_view secret,
                        json params) {
  if (!params.is_array()) params = json::array();
  if (!secret.empty()) params.insert(params.begin(), "token:" + std::string(secret));
  return Dump({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
}

json AddUriParams(const Aria2Download& download) {
  json options = json::object();
  if (!download.fileName.empty()) options["out"] = download.fileName;
  if (!download.dir.empty()) options["dir"] = download.dir;
  if (!download.referer.empty()) options["referer"] = download.referer;
  json headers = json::array();
  if (!download.userAgent.empty()) headers.push_back("User-Agent: " + download.userAgent);
  if (!download.cookieLine.empty()) headers.push_back("Cookie: " + download.cookieLine);
  if (!headers.empty()) options["header"] = std::move(headers);
  return json::array({json::array({download.address}), std::move(options)});
}

}  // namespace

std::string Aria2RequestBody(std::string_view method, std::string_view id, std::string_view secret,
                             std::string_view paramsJson) {
  return RequestBody(method, id, secret, json::parse(paramsJson, nullptr, false));
}

std::string Aria2AddUriParams(const Aria2Download& download) {
  return Dump(AddUriParams(download));
}

Aria2Client::Aria2Client(HttpStack& stack, ThreadSystem& threads, Aria2Endpoint endpoint,
                         std::uint32_t timeoutMs)
    : stack_(stack), threads_(threads), endpoint_(std::move(endpoint)), timeoutMs_(timeoutMs) {}

json Aria2Client::Call(std::string_view method, json params, Aria2Error& error) {
  auto fail = [&](Aria2Failure failure, std::string_view detail = {}) {
    error = {failure, Sentence(failure, endpoint_, timeoutMs_, detail)};
    return json();
  };
  const std::string id = "sorrel-" + std::to_string(nextId_++);
  HttpCall call;
  call.verb = "POST";
  call.address = endpoint_.address;
  call.agent = kClientAgent;
  call.headers = "Content-Type: application/json\r\nAccept: application/json\r\n";
  call.body = RequestBody(method, id, endpoint_.secret, std::move(params));
  call.timeoutMs = timeoutMs_;
  const HttpCallResult answer = PerformHttpCall(stack_, threads_, std::move(call));
  switch (answer.failure) {
    case HttpCallFailure::kBadAddress:
      return fail(Aria2Failure::kBadAddress);
    case HttpCallFailure::kUnreachable:
      return fail(Aria2Failure::kUnreachable);
    case HttpCallFailure::kTimedOut:
      return fail(Aria2Failure::kTimedOut);
    case HttpCallFailure::kNone:
      break;
  }
  json reply = json::parse(answer.body, nullptr, false);
  if (!reply.is_object() || reply.value("jsonrpc", "") != "2.0" ||
      (!reply.contains("result") && !reply.contains("error"))) {
    return fail(Aria2Failure::kNotJsonRpc);
  }
  if (const auto it = reply.find("error"); it != reply.end()) {
    const std::string message = it->is_object() ? StringMember(*it, "message") : std::string();
    if (message == "Unauthorized") return fail(Aria2Failure::kUnauthorized);
    return fail(Aria2Failure::kRefused, message.empty() ? it->dump() : message);
  }
  error = {};
  return std::move(reply["result"]);
}

std::string Aria2Client::AddUri(const Aria2Download& download, Aria2Error& error) {
  const json result = Call("aria2.addUri", AddUriParams(download), error);
  if (error.failure != Aria2Failure::kNone) return {};
  if (!result.is_string() || result.get_ref<const std::string&>().empty()) {
    error = {Aria2Failure::kNotJsonRpc, Sentence(Aria2Failure::kNotJsonRpc, endpoint_, 0, {})};
    return {};
  }
  return result.get<std::string>();
}

bool Aria2Client::TellStatus(std::string_view gid, Aria2Status& status, Aria2Error& error) {
  const json keys = {"gid",           "status",    "totalLength",  "completedLength",
                     "downloadSpeed", "errorCode", "errorMessage", "files"};
  const json result = Call("aria2.tellStatus", json::array({gid, keys}), error);
  if (error.failure != Aria2Failure::kNone) return false;
  if (!result.is_object()) {
    error = {Aria2Failure::kNotJsonRpc, Sentence(Aria2Failure::kNotJsonRpc, endpoint_, 0, {})};
    return false;
  }
  status.gid = StringMember(result, "gid");
  status.status = StringMember(result, "status");
  status.totalLength = NumberMember(result, "totalLength");
  status.completedLength = NumberMember(result, "completedLength");
  status.downloadSpeed = NumberMember(result, "downloadSpeed");
  status.errorCode = StringMember(result, "errorCode");
  status.errorMessage = StringMember(result, "errorMessage");
  status.path.clear();
  if (const auto files = result.find("files");
      files != result.end() && files->is_array() && !files->empty() && files->front().is_object()) {
    status.path = StringMember(files->front(), "path");
  }
  return true;
}

std::string Aria2Client::GetVersion(Aria2Error& error) {
  const json result = Call("aria2.getVersion", json::array(), error);
  if (error.failure != Aria2Failure::kNone) return {};
  if (!result.is_object() || StringMember(result, "version").empty()) {
    error = {Aria2Failure::kNotJsonRpc, Sentence(Aria2Failure::kNotJsonRpc, endpoint_, 0, {})};
    return {};
  }
  return StringMember(result, "version");
}

}  // namespace sorrel
