#include "download/aria2_client.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

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
      if (endpoint.own) {
        return "本工具启动的 aria2c 没有应答：连不上 " + endpoint.address +
               "。它可能已经退出，下次发送时会重新启动。";
      }
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
    case Aria2Failure::kNotDownload:
      return NotDownloadSentence();
    case Aria2Failure::kNotStarted:
      return std::string(detail);
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
  // Whatever the engine's own settings: a file the user has is never
  // written into (a new one gets a new name), and a torrent or Metalink
  // file the address turns out to be is saved, not followed.
  json options = {{"auto-file-renaming", download.resume ? "false" : "true"},
                  {"continue", "false"},
                  {"follow-metalink", "false"},
                  {"follow-torrent", "false"}};
  // A resumed download fails rather than take another name or start again
  // over a file without its control file.
  if (download.resume) options["allow-overwrite"] = "false";
  if (!download.fileName.empty()) options["out"] = download.fileName;
  if (!download.dir.empty()) options["dir"] = download.dir;
  if (!download.referer.empty()) options["referer"] = download.referer;
  if (!download.proxy.empty()) {
    options["all-proxy"] = download.proxy;
    if (!download.proxyUser.empty()) {
      options["all-proxy-user"] = download.proxyUser;
      options["all-proxy-passwd"] = download.proxyPassword;
    }
  }
  json headers = json::array();
  if (!download.userAgent.empty()) headers.push_back("User-Agent: " + download.userAgent);
  if (!headers.empty()) options["header"] = std::move(headers);
  return json::array({json::array({download.address}), std::move(options)});
}

json ChangeUriParams(std::string_view gid, const std::vector<std::string>& removed,
                     const std::vector<std::string>& added) {
  return json::array({gid, 1, removed, added});
}

bool IsAsciiDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// The scheme (lower-cased) and the host of an absolute address; an empty
// host when the address has none or holds a blank or control character.
std::pair<std::string, std::string> SchemeAndHost(std::string_view address) {
  const std::size_t colon = address.find("://");
  if (colon == std::string_view::npos || colon == 0) return {};
  for (const char c : address) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) return {};
  }
  std::string_view authority = address.substr(colon + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority = authority.substr(at + 1);
  }
  std::string_view host = authority;
  std::string_view port;
  if (authority.substr(0, 1) == "[") {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return {};
    host = authority.substr(1, close - 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after[0] != ':') return {};
    port = after.substr(after.empty() ? 0 : 1);
  } else if (const std::size_t p = authority.find(':'); p != std::string_view::npos) {
    host = authority.substr(0, p);
    port = authority.substr(p + 1);
  }
  if (host.empty() || !IsAsciiDigits(port) || port.size() > 5) return {};
  return {Lower(address.substr(0, colon)), Lower(host)};
}

bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  if (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0) return true;
  // 127.0.0.0/8 written as four decimal parts, not a name that starts so.
  if (host.compare(0, 4, "127.") != 0) return false;
  std::istringstream parts(host);
  int count = 0;
  for (std::string part; std::getline(parts, part, '.'); ++count) {
    if (part.empty() || part.size() > 3 || !IsAsciiDigits(part)) return false;
  }
  return count == 4 && host.back() != '.';
}

}  // namespace

bool IsDownloadAddress(std::string_view address) {
  const auto [scheme, host] = SchemeAndHost(address);
  return !host.empty() && (scheme == "http" || scheme == "https");
}

std::string DownloadHost(std::string_view address) {
  return IsDownloadAddress(address) ? SchemeAndHost(address).second : std::string();
}

std::string NotDownloadSentence() {
  return "下载地址不是 http:// 或 https:// 地址，没有交给 aria2。";
}

bool Aria2AddressInClear(std::string_view address) {
  const auto [scheme, host] = SchemeAndHost(address);
  return scheme == "http" && !host.empty() && !IsLoopbackHost(host);
}

std::string Aria2InClearWarning() {
  return "这个 aria2 地址不加密（http://），RPC 密钥和下载地址会以明文经过网络。";
}

std::string Aria2DownloadFailure(const Aria2Status& status) {
  const std::string& code = status.errorCode;
  const std::string& words = status.errorMessage;
  std::string sentence;
  if (code == "9" || words.find("No space left") != std::string::npos) {
    sentence = "磁盘空间不足。";
  } else if (code == "15" || code == "16" || code == "17" || code == "18") {
    sentence = "无法写入下载文件夹：文件夹不存在、不可写或磁盘已满。";
  } else if (code == "3") {
    sentence = "服务器上没有这个文件（HTTP 404）。";
  } else if (code == "24") {
    sentence = "服务器要求身份验证（HTTP 401）。";
  } else if (code == "29") {
    sentence = "服务器暂时无法处理请求（HTTP 503）。";
  } else if (code == "22" && words.find("status=403") != std::string::npos) {
    sentence = "服务器拒绝了下载（HTTP 403），下载地址可能已经过期，请重新获取。";
  } else if (code == "22") {
    sentence = "下载服务器的应答不对。";
  } else if (code == "13") {
    sentence = "文件已经存在，但没有 aria2 的控制文件（.aria2），无法接着下载，也不会覆盖它。";
  } else if (code == "2") {
    sentence = "连接下载服务器超时。";
  } else if (code == "6") {
    sentence = "网络出错。";
  } else if (code == "19") {
    sentence = "无法解析下载服务器的域名。";
  } else if (code == "23") {
    sentence = "下载地址重定向的次数太多。";
  }
  const std::string own = words.empty() ? status.status : words;
  if (sentence.empty()) return "aria2 下载失败：" + own;
  return "aria2 下载失败：" + sentence + "（aria2：" + own + "）";
}

std::string Aria2RequestBody(std::string_view method, std::string_view id, std::string_view secret,
                             std::string_view paramsJson) {
  return RequestBody(method, id, secret, json::parse(paramsJson, nullptr, false));
}

std::string Aria2AddUriParams(const Aria2Download& download) {
  return Dump(AddUriParams(download));
}

std::string Aria2ChangeUriParams(std::string_view gid, const std::vector<std::string>& removed,
                                 const std::vector<std::string>& added) {
  return Dump(ChangeUriParams(gid, removed, added));
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
  if (!IsDownloadAddress(download.address)) {
    error = {Aria2Failure::kNotDownload, NotDownloadSentence()};
    return {};
  }
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
                     "downloadSpeed", "errorCode", "errorMessage", "dir",
                     "files"};
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
  status.dir = StringMember(result, "dir");
  status.path.clear();
  status.uris.clear();
  if (const auto files = result.find("files");
      files != result.end() && files->is_array() && !files->empty() && files->front().is_object()) {
    const json& first = files->front();
    status.path = StringMember(first, "path");
    if (const auto uris = first.find("uris"); uris != first.end() && uris->is_array()) {
      for (const json& uri : *uris) {
        if (uri.is_object() && !StringMember(uri, "uri").empty()) {
          status.uris.push_back(StringMember(uri, "uri"));
        }
      }
    }
  }
  return true;
}

bool Aria2Client::ChangeUri(std::string_view gid, const std::vector<std::string>& removed,
                            const std::vector<std::string>& added, Aria2Error& error) {
  for (const std::string& address : added) {
    if (!IsDownloadAddress(address)) {
      error = {Aria2Failure::kNotDownload, NotDownloadSentence()};
      return false;
    }
  }
  const json result = Call("aria2.changeUri", ChangeUriParams(gid, removed, added), error);
  if (error.failure != Aria2Failure::kNone) return false;
  if (!result.is_array()) {
    error = {Aria2Failure::kNotJsonRpc, Sentence(Aria2Failure::kNotJsonRpc, endpoint_, 0, {})};
    return false;
  }
  return true;
}

bool Aria2Client::Remove(std::string_view gid, Aria2Error& error) {
  Call("aria2.forceRemove", json::array({gid}), error);
  return error.failure == Aria2Failure::kNone;
}

bool Aria2Client::Shutdown(Aria2Error& error) {
  Call("aria2.shutdown", json::array(), error);
  return error.failure == Aria2Failure::kNone;
}

bool Aria2Client::Cancel(std::string_view gid, Aria2Error& error) {
  Call("aria2.remove", json::array({gid}), error);
  return error.failure == Aria2Failure::kNone;
}

bool Aria2Client::Pause(std::string_view gid, Aria2Error& error) {
  Call("aria2.pause", json::array({gid}), error);
  return error.failure == Aria2Failure::kNone;
}

bool Aria2Client::Unpause(std::string_view gid, Aria2Error& error) {
  Call("aria2.unpause", json::array({gid}), error);
  return error.failure == Aria2Failure::kNone;
}

bool Aria2Client::RemoveDownloadResult(std::string_view gid, Aria2Error& error) {
  Call("aria2.removeDownloadResult", json::array({gid}), error);
  return error.failure == Aria2Failure::kNone;
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
