#include "service.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <tuple>
#include <utility>

#include "captcha.h"
#include "text_util.h"

namespace sorrel::sim {
namespace {

constexpr auto kSessionIdle = std::chrono::minutes(30);
constexpr size_t kMaxSessions = 10000;
constexpr size_t kMaxTokens = 10000;
constexpr std::uint64_t kMaxTestBytes = 64ull * 1024 * 1024;

const char kHtmlType[] = "text/html; charset=utf-8";

std::string PageTop(const std::string& title) {
  return "<!DOCTYPE html>\n<html>\n<head>\n"
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\n"
         "<title>" +
         HtmlEscape(title) + " - Sorrel网盘</title>\n</head>\n<body>\n";
}

const char kPageBottom[] = "</body>\n</html>\n";

Response Html(int status, std::string body) {
  Response r;
  r.status = status;
  r.Add("Content-Type", kHtmlType);
  r.Add("Cache-Control", "no-cache");
  r.body = std::move(body);
  return r;
}

Response Text(int status, std::string body) {
  Response r;
  r.status = status;
  r.Add("Content-Type", "text/plain; charset=utf-8");
  r.body = std::move(body);
  return r;
}

Response MessagePage(int status, const std::string& title, const std::string& message) {
  return Html(status, PageTop(title) + "<div class=\"msg\">" + message + "</div>\n" + kPageBottom);
}

Response RemovedPage() {
  return MessagePage(200, "文件不存在",
                     "<h2>这个文件已到期或被删除</h2>\n<p><a href=\"/\">返回首页</a></p>");
}

Response NotAllowed(const char* allow) {
  Response r = MessagePage(405, "请求方式错误", "<p>请求方式错误</p>");
  r.Add("Allow", allow);
  return r;
}

bool IsGetOrHead(const Request& request) {
  return request.method == "GET" || request.method == "HEAD";
}

std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t h = 14695981039346656037ull;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

std::string Hex64(std::uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

// Text safe to place into the page's script and the tool's captcha path.
bool PlainFaultList(std::string_view text) {
  for (char c : text) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == ':' || c == ',' || c == '-' || c == '_' || c == '/' || c == '.';
    if (!ok) return false;
  }
  return true;
}

// The query without its "fault" parameters.
std::string QueryWithoutFault(const std::string& query) {
  std::string out;
  size_t start = 0;
  while (start <= query.size() && !query.empty()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string piece = query.substr(start, end - start);
    if (!piece.empty() && piece != "fault" && piece.rfind("fault=", 0) != 0) {
      if (!out.empty()) out += '&';
      out += piece;
    }
    start = end + 1;
  }
  return out;
}

std::string HiddenInput(const std::string& name, const std::string& value) {
  // One field per line, name then one blank then value: the tool's field
  // pattern is greedy up to the last name="..." of a line.
  return "<input type=\"hidden\" name=\"" + name + "\" value=\"" + value + "\" />\n";
}

// The one range of a "Range: bytes=..." value within `size` bytes, as
// [first, end); nothing for a value this service does not serve in part
// (several ranges, another unit, a malformed one), which gets the whole
// file. `unsatisfiable` when the range starts beyond the end.
std::optional<std::pair<std::uint64_t, std::uint64_t>> ByteRange(const std::string& value,
                                                                 std::uint64_t size,
                                                                 bool& unsatisfiable) {
  unsatisfiable = false;
  const std::string asked = TrimSpaces(value);
  if (asked.rfind("bytes=", 0) != 0 || asked.find(',') != std::string::npos) return std::nullopt;
  const size_t dash = asked.find('-', 6);
  if (dash == std::string::npos) return std::nullopt;
  const std::string first = asked.substr(6, dash - 6);
  const std::string last = asked.substr(dash + 1);
  std::uint64_t a = 0, b = 0;
  if (first.empty()) {
    // "bytes=-N": the last N bytes.
    if (!ParseUint(last, b) || b == 0) return std::nullopt;
    return std::pair{size - std::min(b, size), size};
  }
  if (!ParseUint(first, a) || (!last.empty() && (!ParseUint(last, b) || b < a))) {
    return std::nullopt;
  }
  if (a >= size) {
    unsatisfiable = true;
    return std::nullopt;
  }
  return std::pair{a, last.empty() ? size : std::min(b + 1, size)};
}

// A rule's path is exact, or a prefix when it ends in "*" ("/dl/*": every
// download, whatever its token).
bool RuleMatches(const std::string& rulePath, const std::string& path) {
  if (rulePath.empty() || rulePath == path) return true;
  return rulePath.back() == '*' &&
         path.compare(0, rulePath.size() - 1, rulePath, 0, rulePath.size() - 1) == 0;
}

}  // namespace

Service::Service(const Options& options, std::vector<CatalogueFile> catalogue)
    : options_(options), catalogue_(std::move(catalogue)), rng_(std::random_device{}()) {
  secret_ = RandomHex(16);
}

bool Service::OpenRequestLog(const std::string& path, std::string& error) {
  return log_.OpenFile(path, error);
}

std::string Service::RandomHex(size_t bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes; ++i) {
    const auto b = static_cast<unsigned>(rng_() & 0xFF);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string Service::HashKey(const std::string& id) const {
  return Hex64(Fnv1a(secret_ + "|key|" + id));
}

std::string Service::HashInfo(const std::string& id) const {
  return Hex64(Fnv1a(secret_ + "|info|" + id)) + Hex64(Fnv1a(id + "|info|" + secret_));
}

const CatalogueFile* Service::Find(const std::string& id) const {
  for (const CatalogueFile& f : catalogue_) {
    if (f.id == id) return &f;
  }
  return nullptr;
}

std::string Service::SessionOf(const Request& request) {
  for (const auto& [name, value] : request.headers) {
    if (!EqualsIgnoreCase(name, "Cookie")) continue;
    for (const auto& [cookie, sid] : ParseCookieHeader(value)) {
      if (cookie != kSessionCookie) continue;
      const auto it = sessions_.find(sid);
      if (it != sessions_.end() && Clock::now() - it->second.touched < kSessionIdle) {
        it->second.touched = Clock::now();
        return sid;
      }
    }
  }
  return {};
}

std::string Service::NewSession() {
  const auto now = Clock::now();
  if (sessions_.size() >= kMaxSessions) {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      it = now - it->second.touched >= kSessionIdle ? sessions_.erase(it) : std::next(it);
    }
    if (sessions_.size() >= kMaxSessions) sessions_.erase(sessions_.begin());
  }
  std::string sid = RandomHex(16);
  sessions_[sid] = Session{{}, now};
  return sid;
}

std::string Service::SessionCookie(const std::string& sid) const {
  return std::string(kSessionCookie) + "=" + sid + "; path=/; HttpOnly";
}

Response Service::Handle(const Request& request) {
  std::string path = request.path;
  const bool control = options_.testMode && (path == "/__test/log" || path == "/__test/captcha" ||
                                             path == "/__test/fault");
  if (options_.testMode && !control) log_.Record(request);

  Faults faults;
  const bool moved = path == kMovedPrefix || path.rfind(std::string(kMovedPrefix) + "/", 0) == 0;
  Response response;
  std::string error;
  if (moved) {
    // The target of the redirect fault: the same resource, without faults.
    path = path.size() > 6 ? path.substr(6) : "/";
    response = Route(request, path, faults);
  } else if (!control && !FaultsFor(request, path, faults, error)) {
    response = Text(400, error + "\n");
  } else if (faults.redirect || faults.redirectHttps || faults.redirectLoop) {
    response = Redirect(request, faults);
  } else {
    response = Route(request, path, faults);
  }
  response.faults = faults;
  if (options_.verbose) {
    std::fprintf(stderr, "%s %s %s -> %d\n", request.peer.c_str(), request.method.c_str(),
                 request.target.c_str(), response.status);
  }
  return response;
}

bool Service::FaultsFor(const Request& request, const std::string& path, Faults& faults,
                        std::string& error) {
  if (!options_.testMode) return true;
  {
    std::lock_guard lock(mutex_);
    for (const FaultRule& rule : options_.faults) {
      if (RuleMatches(rule.path, path)) faults.Merge(rule.faults);
    }
    for (auto it = controlFaults_.begin(); it != controlFaults_.end();) {
      if (RuleMatches(it->path, path)) {
        faults.Merge(it->faults);
        if (it->remaining > 0 && --it->remaining == 0) {
          it = controlFaults_.erase(it);
          continue;
        }
      }
      ++it;
    }
  }
  const NameValues query = ParseForm(request.query);
  for (const auto& [name, value] : query) {
    if (name == "fault" && !ParseFaults(value, faults, error)) return false;
  }
  return true;
}

Response Service::Redirect(const Request& request, const Faults& faults) {
  const std::string query = QueryWithoutFault(request.query);
  const std::string target = request.path + (query.empty() ? "" : "?" + query);
  std::string location;
  if (faults.redirectLoop) {
    location = request.target;
  } else if (faults.redirectHttps) {
    location = "https://" + baseUrl_.substr(baseUrl_.find("://") + 3) + target;
  } else if (faults.redirect && !faults.redirect->empty()) {
    location = *faults.redirect;
  } else {
    location = kMovedPrefix + target;
  }
  Response r = MessagePage(
      302, "已移动",
      "<p>已移动到 <a href=\"" + HtmlEscape(location) + "\">" + HtmlEscape(location) + "</a></p>");
  r.Add("Location", location);
  return r;
}

Response Service::Route(const Request& request, const std::string& path, const Faults& faults) {
  if (path == "/") return IsGetOrHead(request) ? Index() : NotAllowed("GET, HEAD");
  if (path.rfind("/file/", 0) == 0) {
    if (!IsGetOrHead(request)) return NotAllowed("GET, HEAD");
    std::string id = path.substr(6);
    if (id.size() > 5 && id.compare(id.size() - 5, 5, ".html") == 0) id.resize(id.size() - 5);
    return FilePage(request, id);
  }
  if (path == kCaptchaPath) {
    return IsGetOrHead(request) ? Captcha(request, faults) : NotAllowed("GET, HEAD");
  }
  if (path == kLoginPath) {
    return request.method == "POST" ? Login(request, faults) : NotAllowed("POST");
  }
  if (path.rfind("/dl/", 0) == 0) {
    return IsGetOrHead(request) ? Download(request, path.substr(4)) : NotAllowed("GET, HEAD");
  }
  if (options_.testMode && path.rfind("/__test/", 0) == 0) {
    return TestEndpoint(request, path.substr(8));
  }
  return MessagePage(404, "页面不存在", "<p>页面不存在</p>");
}

Response Service::Index() {
  std::string body = PageTop("首页") + "<h1>Sorrel网盘演示服务</h1>\n<ul>\n";
  for (const CatalogueFile& f : catalogue_) {
    body += "<li><a href=\"/file/" + f.id + "\">/file/" + f.id + "</a> " + HtmlEscape(f.name);
    body += f.removed ? "（已删除）" : "（" + FormatSize(f.size) + "）";
    body += "</li>\n";
  }
  body += "</ul>\n";
  body += kPageBottom;
  return Html(200, body);
}

Response Service::FilePage(const Request& request, const std::string& id) {
  const CatalogueFile* file = Find(id);
  if (!file || file->removed) return RemovedPage();

  int extraFields = options_.extraFields;
  std::string captchaQuery = "fid=" + file->id;
  if (options_.testMode) {
    // Test switches that travel from the page address into its captcha path.
    const NameValues query = ParseForm(request.query);
    std::uint64_t n = 0;
    if (ParseUint(FindValue(query, "extra_fields"), n) && n <= 1000) {
      extraFields = static_cast<int>(n);
    }
    if (const std::string p = FindValue(query, "picture"); ParsePictureFormat(p)) {
      captchaQuery += "&picture=" + p;
    }
    const std::string faultList = FindValue(query, "captcha_fault");
    Faults probe;
    std::string ignored;
    if (!faultList.empty() && PlainFaultList(faultList) && ParseFaults(faultList, probe, ignored)) {
      captchaQuery += "&fault=" + faultList;
    }
  }

  std::string sid;
  {
    std::lock_guard lock(mutex_);
    sid = SessionOf(request);
    if (sid.empty()) sid = NewSession();
  }

  const std::string escapedName = PercentEncode(file->name);
  const std::string size = FormatSize(file->size);
  std::string body = PageTop("文件下载");
  body +=
      "<script type=\"text/javascript\">\n"
      "var file_name = \"" +
      escapedName +
      "\";\n"
      "var file_size = \"" +
      size +
      "\";\n"
      "</script>\n"
      "<div class=\"file_info\">\n"
      "<h1 id=\"file_title\"><script "
      "type=\"text/javascript\">document.write(decodeURIComponent(file_name));</script>"
      "<noscript>" +
      escapedName +
      "</noscript></h1>\n"
      "<p>文件大小：" +
      size +
      "</p>\n"
      "</div>\n"
      "<form id=\"guest_form\" action=\"" +
      kLoginPath + "\" method=\"post\">\n";
  body += HiddenInput("action", "guest_login");
  body += HiddenInput("ref", "");
  body += HiddenInput("file_id", file->id);
  body += HiddenInput("hash_key", HashKey(file->id));
  body += HiddenInput("vip", "0");
  body += HiddenInput("authtype", "0");
  body += HiddenInput("hash_info", HashInfo(file->id));
  body += HiddenInput("from", "share");
  for (int i = 1; i <= extraFields; ++i) {
    body += HiddenInput("ext" + std::to_string(i), "x" + std::to_string(i));
  }
  body +=
      "<div class=\"vfcode\">\n"
      "<script type=\"text/javascript\">document.write(\"<img id='vfcode' src='" +
      std::string(kCaptchaPath) + "?" + captchaQuery +
      "&rand=\" + Math.random() + \"' />\");</script>\n"
      "<p>请输入上方图片中的验证码（不区分大小写）：</p>\n"
      "<input type=\"text\" id=\"randcode\" name=\"randcode\" maxlength=\"8\" "
      "autocomplete=\"off\" />\n"
      "<button type=\"submit\" name=\"Comfirm\" value=\"yes\">获取下载地址</button>\n"
      "</div>\n"
      "</form>\n";
  body += kPageBottom;

  Response r = Html(200, body);
  r.Add("Set-Cookie", SessionCookie(sid));
  return r;
}

Response Service::Captcha(const Request& request, const Faults& faults) {
  if (faults.htmlCaptcha) {
    return MessagePage(500, "服务器错误", "<h2>服务器繁忙，请稍后再试。</h2>");
  }
  PictureFormat format = options_.picture;
  if (options_.testMode) {
    if (const auto f = ParsePictureFormat(FindValue(ParseForm(request.query), "picture"))) {
      format = *f;
    }
  }

  std::string sid;
  std::string code;
  std::string picture;
  {
    std::lock_guard lock(mutex_);
    sid = SessionOf(request);
    if (sid.empty()) sid = NewSession();
    code = options_.fixedCode ? *options_.fixedCode : NewCaptchaCode(rng_);
    sessions_[sid].code = code;
    lastCode_ = code;
    picture = EncodePicture(DrawCaptcha(code, rng_), format);
  }
  if (faults.hugePicture) {
    picture = ClaimPictureSize(std::move(picture), format, kHugePictureSide, kHugePictureSide);
  }
  if (faults.truncatedPicture) picture.resize(picture.size() / 2);

  Response r;
  r.Add("Content-Type", PictureMimeType(format));
  r.Add("Cache-Control", "no-cache, no-store");
  r.Add("Pragma", "no-cache");
  r.Add("Set-Cookie", SessionCookie(sid));
  r.body = std::move(picture);
  return r;
}

Response Service::Login(const Request& request, const Faults& faults) {
  const NameValues form = ParseForm(request.body);
  const std::string fileId = FindValue(form, "file_id");
  std::string expected;
  {
    std::lock_guard lock(mutex_);
    const std::string sid = SessionOf(request);
    if (sid.empty()) {
      return MessagePage(200, "会话已失效",
                         "<p>会话已失效，请重新打开文件页面。</p>\n"
                         "<p><a href=\"/\">返回首页</a></p>");
    }
    // Every attempt uses the captcha up, right or wrong.
    expected.swap(sessions_[sid].code);
  }
  if (expected.empty() || !EqualsIgnoreCase(FindValue(form, "randcode"), expected)) {
    return MessagePage(200, "验证码错误",
                       "<script type=\"text/javascript\">alert(\"验证码输入错误，请返回重新输入"
                       "\");history.back();</script>\n<p>验证码输入错误，请返回重新输入。</p>");
  }
  const CatalogueFile* file = Find(fileId);
  if (!file || file->removed) return RemovedPage();
  if (FindValue(form, "hash_key") != HashKey(fileId) ||
      FindValue(form, "hash_info") != HashInfo(fileId) || FindValue(form, "authtype") != "0") {
    return MessagePage(200, "参数错误", "<p>参数错误，请刷新文件页面后重试。</p>");
  }

  std::string token;
  {
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    if (tokens_.size() >= kMaxTokens) {
      for (auto it = tokens_.begin(); it != tokens_.end();) {
        it = it->second.expires <= now ? tokens_.erase(it) : std::next(it);
      }
      if (tokens_.size() >= kMaxTokens) tokens_.erase(tokens_.begin());
    }
    token = RandomHex(16);
    tokens_[token] = Token{fileId, now + std::chrono::seconds(options_.tokenSeconds)};
  }
  const std::string url = baseUrl_ + "/dl/" + token + "/" + PercentEncode(file->name);
  auto hostile = [&](const char* link) {
    return faults.controlLinks && (faults.controlLinks->empty() || *faults.controlLinks == link)
               ? std::string(kControlText)
               : std::string();
  };
  const std::string normal = Base64Encode(url + hostile("normal"));
  const std::string thunder = "thunder://" + Base64Encode("AA" + url + "ZZ") + hostile("thunder");
  const std::string flashget = "flashget://" + Base64Encode("[FLASHGET]" + url + "[FLASHGET]") +
                               "&sorrel" + hostile("flashget");

  std::string body = PageTop("下载地址");
  body +=
      "<script type=\"text/javascript\">\n"
      "function logClickST() { return true; }\n"
      "function OnDownloadClick_Simple(a) { location.href = a.getAttribute(\"thunderHref\"); "
      "return false; }\n"
      "function Flashget_SDown(a) { location.href = a.getAttribute(\"fg\"); return false; }\n"
      "window.onload = function () { var a = document.getElementById(\"local_free\"); "
      "a.setAttribute(\"href\", atob(a.getAttribute(\"href\"))); };\n"
      "</script>\n"
      "<p>文件：" +
      HtmlEscape(file->name) + "（" + FormatSize(file->size) +
      "）</p>\n"
      "<ul class=\"down_list\">\n"
      "<li><a class=\"local\" href=\"" +
      normal +
      "\" id=\"local_free\" onclick=\"logClickST();\">普通不限速下载</a></li>\n"
      "<li><a href=\"#\" onclick=\"return OnDownloadClick_Simple(this);\" thunderHref=\"" +
      thunder +
      "\">迅雷不限速下载</a></li>\n"
      "<li><a href=\"#\" onclick=\"return Flashget_SDown(this);\" fg=\"" +
      flashget +
      "\">快车不限速下载</a></li>\n"
      "</ul>\n"
      "<p>下载地址" +
      std::to_string(options_.tokenSeconds) + "秒内有效。</p>\n";
  body += kPageBottom;
  return Html(200, body);
}

Response Service::Download(const Request& request, const std::string& rest) {
  const size_t slash = rest.find('/');
  const std::string token = rest.substr(0, slash);
  const std::string name =
      slash == std::string::npos ? std::string() : PercentDecode(rest.substr(slash + 1), false);
  std::string fileId;
  {
    std::lock_guard lock(mutex_);
    const auto it = tokens_.find(token);
    if (it == tokens_.end() || it->second.expires <= Clock::now()) {
      return MessagePage(403, "下载地址已失效", "<p>下载地址已失效，请重新获取。</p>");
    }
    fileId = it->second.fileId;
  }
  const CatalogueFile* file = Find(fileId);
  if (!file || file->removed || file->name != name) {
    return MessagePage(404, "文件不存在", "<p>文件不存在</p>");
  }
  Response r;
  r.Add("Content-Type", "application/octet-stream");
  r.Add("Content-Disposition", "attachment; filename*=UTF-8''" + PercentEncode(file->name));
  r.Add("Accept-Ranges", "bytes");
  std::uint64_t first = 0;
  std::uint64_t end = file->size;
  if (const std::string* range = request.Header("Range")) {
    bool unsatisfiable = false;
    if (const auto part = ByteRange(*range, file->size, unsatisfiable)) {
      std::tie(first, end) = *part;
      r.status = 206;
      r.Add("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(end - 1) +
                                 "/" + std::to_string(file->size));
    } else if (unsatisfiable) {
      Response refused = MessagePage(416, "范围无效", "<p>请求的范围超出了文件。</p>");
      refused.Add("Content-Range", "bytes */" + std::to_string(file->size));
      return refused;
    }
  }
  if (file->path.empty()) {
    r.body = file->content.substr(static_cast<size_t>(first), static_cast<size_t>(end - first));
  } else {
    r.filePath = file->path;
    r.fileOffset = first;
    r.fileSize = end - first;
  }
  return r;
}

Response Service::TestEndpoint(const Request& request, const std::string& name) {
  const NameValues query = ParseForm(request.query);
  std::uint64_t n = 0;
  if (name == "captcha") {
    std::lock_guard lock(mutex_);
    if (HasName(query, "session")) {
      const auto it = sessions_.find(FindValue(query, "session"));
      if (it == sessions_.end() || it->second.code.empty()) return Text(404, "");
      return Text(200, it->second.code);
    }
    return lastCode_.empty() ? Text(404, "") : Text(200, lastCode_);
  }
  if (name == "log") {
    Response r = Text(200, log_.Text());
    r.headers.front().second = "application/x-ndjson";
    if (FindValue(query, "clear") == "1") log_.Clear();
    return r;
  }
  if (name == "fault") {
    std::lock_guard lock(mutex_);
    if (FindValue(query, "clear") == "1") {
      controlFaults_.clear();
      return Text(200, "ok\n");
    }
    FaultRule rule;
    rule.path = FindValue(query, "path");
    std::string error;
    if (!HasName(query, "set") || !ParseFaults(FindValue(query, "set"), rule.faults, error)) {
      return Text(400, (error.empty() ? "set=FAULTS is missing" : error) + "\n");
    }
    if (HasName(query, "times")) {
      if (!ParseUint(FindValue(query, "times"), n) || n == 0 || n > 1000000) {
        return Text(400, "times takes a count from 1\n");
      }
      rule.remaining = static_cast<int>(n);
    }
    controlFaults_.push_back(std::move(rule));
    return Text(200, "ok\n");
  }
  if (name == "echo") {
    Response r;
    if (HasName(query, "status")) {
      if (!ParseUint(FindValue(query, "status"), n) || n < 200 || n > 599) {
        return Text(400, "status takes a code from 200 to 599\n");
      }
      r.status = static_cast<int>(n);
    }
    bool typed = false;
    for (const auto& [key, value] : query) {
      if (key != "header") continue;
      const size_t colon = value.find(':');
      if (colon == std::string::npos || colon == 0) return Text(400, "header takes Name:value\n");
      const std::string headerName = value.substr(0, colon);
      typed = typed || EqualsIgnoreCase(headerName, "Content-Type");
      r.Add(headerName, TrimSpaces(value.substr(colon + 1)));
    }
    if (!typed) r.headers.insert(r.headers.begin(), {"Content-Type", "text/plain"});
    r.body = HasName(query, "body") ? FindValue(query, "body") : request.raw;
    return r;
  }
  if (name == "cookies") {
    std::uint64_t count = 1;
    std::uint64_t size = 16;
    if ((HasName(query, "n") && (!ParseUint(FindValue(query, "n"), count) || count > 1000)) ||
        (HasName(query, "size") && (!ParseUint(FindValue(query, "size"), size) || size > 4000))) {
      return Text(400, "n takes 0 to 1000, size 0 to 4000\n");
    }
    Response r = Text(200, std::to_string(count) + " cookies\n");
    for (std::uint64_t i = 1; i <= count; ++i) {
      r.Add("Set-Cookie", "c" + std::to_string(i) + "=" + std::string(size, 'v') + "; path=/");
    }
    return r;
  }
  if (name == "bytes") {
    if (!ParseUint(FindValue(query, "n"), n) || n > kMaxTestBytes) {
      return Text(400, "n takes a byte count up to 67108864\n");
    }
    Response r;
    r.Add("Content-Type", "application/octet-stream");
    r.body.resize(static_cast<size_t>(n));
    for (size_t i = 0; i < r.body.size(); ++i) {
      r.body[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    }
    return r;
  }
  return Text(404, "unknown test endpoint\n");
}

}  // namespace sorrel::sim
