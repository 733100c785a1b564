#include "app/cli/options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>

#include "app/address_split.h"
#include "app/cli/local_files.h"
#include "http/proxy.h"
#include "resolve/link_codec.h"
#include "resolve/service_origin.h"
#include "text/codepage.h"
#include "text/escape_controls.h"

namespace sorrel::cli {

namespace {

constexpr int kMaxTries = 100;
constexpr int kMaxLimit = 10000;

std::string Trimmed(std::string line) {
  const char* blanks = " \t\r\n";
  const size_t first = line.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(blanks) - first + 1);
}

bool ParseCount(const std::string& text, int most, int& count) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > most) return false;
  count = value;
  return true;
}

ParsedCommandLine Failure(std::string error) {
  ParsedCommandLine result;
  result.error = std::move(error);
  return result;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  ParsedCommandLine result;
  Options& options = result.options;
  size_t i = 0;
  if (!arguments.empty() &&
      (arguments[0] == "decode" || arguments[0] == "encode" || arguments[0] == "history")) {
    options.command = arguments[0] == "decode"   ? Command::kDecode
                      : arguments[0] == "encode" ? Command::kEncode
                                                 : Command::kHistory;
    i = 1;
  }
  const bool resolving = options.command == Command::kResolve;
  const bool listing = options.command == Command::kHistory;
  bool onlyOperands = false;
  bool proxyGiven = false;
  for (; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (onlyOperands || argument.empty() || argument[0] != '-' || argument == "-") {
      options.operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      onlyOperands = true;
      continue;
    }
    if (argument == "-h" || argument == "--help") {
      options.command = Command::kHelp;
      result.ok = true;
      return result;
    }
    if (argument == "--version") {
      options.command = Command::kVersion;
      result.ok = true;
      return result;
    }
    // Options with a value take it as the next argument or after "=".
    std::string name = argument;
    std::string value;
    bool hasValue = false;
    if (const size_t equals = argument.find('=');
        argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
      hasValue = true;
    }
    auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= arguments.size()) return false;
      value = arguments[++i];
      return true;
    };
    const bool ofHistory = name == "--limit" || name == "--clear";
    const bool known = name == "--json" || name == "-q" || name == "--quiet" || name == "-i" ||
                       name == "--input" || name == "--tries" || name == "--origin" ||
                       name == "--captcha-program" || name == "--captcha-file" ||
                       name == "--aria2" || name == "--aria2-secret-file" || name == "--dir" ||
                       name == "--wait" || name == "--check" || name == "--extract" ||
                       name == "--no-history" || name == "--proxy" || name == "--no-proxy" ||
                       name == "--proxy-password-file" || ofHistory;
    if (!known) return Failure("未知的选项：" + argument);
    if (ofHistory && !listing) return Failure("选项 " + name + " 只用于 history");
    if (!ofHistory && !resolving && !(listing && name == "--json")) {
      return Failure("选项 " + name + " 只用于解析文件页面");
    }
    if (name == "--json" || name == "-q" || name == "--quiet" || name == "--wait" ||
        name == "--check" || name == "--extract" || name == "--no-history" || name == "--clear" ||
        name == "--no-proxy") {
      if (hasValue) return Failure("选项 " + name + " 不带值");
      if (name == "--no-proxy") {
        if (proxyGiven) return Failure("--proxy 和 --no-proxy 只能选一个");
        proxyGiven = true;
        options.proxy.clear();
        continue;
      }
      if (name == "--no-history") {
        options.keepHistory = false;
        continue;
      }
      (name == "--json"      ? options.json
       : name == "--wait"    ? options.wait
       : name == "--check"   ? options.check
       : name == "--extract" ? options.extract
       : name == "--clear"   ? options.clear
                             : options.quiet) = true;
      continue;
    }
    // The engine's address only after "=": a bare --aria2 is the private
    // engine, and the next argument stays an address to resolve.
    if (name == "--aria2") {
      options.aria2 = true;
      options.aria2Address = value;
      if (hasValue && value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0) {
        return Failure("--aria2= 需要以 http:// 或 https:// 开头的 JSON-RPC 地址");
      }
      continue;
    }
    if (!takeValue()) return Failure("选项 " + name + " 缺少值");
    if (name == "-i" || name == "--input") {
      options.inputFiles.push_back(value);
    } else if (name == "--tries") {
      if (!ParseCount(value, kMaxTries, options.tries)) {
        return Failure("--tries 需要 1 到 100 之间的整数");
      }
    } else if (name == "--limit") {
      if (!ParseCount(value, kMaxLimit, options.limit)) {
        return Failure("--limit 需要 1 到 10000 之间的整数");
      }
    } else if (name == "--origin") {
      while (!value.empty() && value.back() == '/') value.pop_back();
      if (value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0) {
        return Failure("--origin 需要以 http:// 或 https:// 开头的地址");
      }
      options.origin = value;
    } else if (name == "--aria2-secret-file") {
      if (value.empty()) return Failure("--aria2-secret-file 需要一个文件路径");
      options.aria2SecretFile = value;
    } else if (name == "--dir") {
      if (value.empty()) return Failure("--dir 需要一个文件夹");
      options.dir = value;
    } else if (name == "--proxy") {
      if (proxyGiven) return Failure("--proxy 和 --no-proxy 只能选一个");
      proxyGiven = true;
      const std::optional<ProxySetting> setting = ParseProxyUrl(value);
      // SOCKS4 is the Windows stack's; the command line's stack has SOCKS5.
      if (!setting || setting->kind == ProxyKind::kSocks4) {
        return Failure(
            "--proxy 需要 http://[用户名[:密码]@]主机:端口 或 socks5h://主机:端口 形式的代理地址");
      }
      options.proxy = ProxyText(*setting);
    } else if (name == "--proxy-password-file") {
      if (value.empty()) return Failure("--proxy-password-file 需要一个文件路径");
      options.proxyPasswordFile = value;
    } else if (name == "--captcha-program") {
      if (value.empty()) return Failure("--captcha-program 需要一个程序");
      options.captchaProgram = value;
    } else {
      if (value.empty()) return Failure("--captcha-file 需要一个文件路径");
      options.captchaFile = value;
    }
  }
  if (!options.captchaProgram.empty() && !options.captchaFile.empty()) {
    return Failure("--captcha-program 和 --captcha-file 只能选一个");
  }
  if ((options.wait || !options.dir.empty()) && !options.aria2) {
    return Failure("--wait 和 --dir 需要与 --aria2 一起使用");
  }
  if (!options.aria2SecretFile.empty() && options.aria2Address.empty()) {
    return Failure("--aria2-secret-file 需要与 --aria2=地址 一起使用");
  }
  if (!options.proxyPasswordFile.empty()) {
    const std::optional<ProxySetting> setting = ParseProxyUrl(options.proxy);
    if (!setting || setting->user.empty()) {
      return Failure(
          "--proxy-password-file 需要与带用户名的 --proxy http://用户名@主机:端口 一起使用");
    }
  }
  if (options.extract && options.inputFiles.empty()) {
    return Failure("--extract 需要与 -i 一起使用");
  }
  if (listing) {
    if (!options.operands.empty()) return Failure("history 不带地址");
    if (options.clear && (options.json || options.limit > 0)) {
      return Failure("--clear 不与 --json 或 --limit 一起使用");
    }
    result.ok = true;
    return result;
  }
  if (options.operands.empty() && options.inputFiles.empty()) {
    return Failure(resolving ? "缺少文件页面地址" : "缺少要处理的链接或地址");
  }
  result.ok = true;
  return result;
}

bool RunProxy(const Options& options, std::string& proxy, std::string& error) {
  proxy = options.proxy;
  if (options.proxyPasswordFile.empty()) return true;
  std::ifstream in(LocalPath(options.proxyPasswordFile), std::ios::binary);
  std::string line;
  if (!in || (!std::getline(in, line) && !in.eof())) {
    error =
        "无法读取代理密码文件 " + options.proxyPasswordFile + "：" + std::strerror(errno) + "。";
    return false;
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  std::optional<ProxySetting> setting = ParseProxyUrl(options.proxy);
  if (line.empty() || !setting) {
    error = "代理密码文件 " + options.proxyPasswordFile + " 的第一行是空的，应当是代理的密码。";
    return false;
  }
  setting->password = line;
  proxy = ProxyText(*setting);
  return true;
}

std::string RunOrigin(const Options& options) {
  return options.origin.empty() ? GbkToUtf8(ServiceOrigin()) : options.origin;
}

bool CollectAddresses(const Options& options, std::string_view origin, const Base64Engine& base64,
                      std::vector<std::string>& addresses, std::string& error) {
  std::set<std::string> seen;
  auto add = [&](std::string line, bool fromFile) {
    line = Trimmed(std::move(line));
    if (fromFile && (line.empty() || line[0] == '#')) return;
    if (seen.insert(line).second) addresses.push_back(line);
  };
  for (const std::string& operand : options.operands) add(operand, false);
  // Free text is split as one, each file's end a paragraph's.
  std::string text;
  for (const std::string& file : options.inputFiles) {
    std::ifstream in;
    std::istream* stream = &std::cin;
    if (file != "-") {
      in.open(LocalPath(file), std::ios::binary);
      if (!in) {
        error = "无法读取 " + file + "：" + std::strerror(errno);
        return false;
      }
      stream = &in;
    }
    std::string line;
    bool first = true;
    while (std::getline(*stream, line)) {
      if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
      first = false;
      if (options.extract) {
        text.append(line).append("\n");
      } else {
        add(line, true);
      }
    }
    if (stream->bad()) {
      error = "读取 " + file + " 时出错";
      return false;
    }
    text.append("\n");
  }
  if (options.extract) {
    for (const FoundAddress& found : SplitAddresses(base64, text, origin)) add(found.text, true);
  }
  return true;
}

namespace {

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Host and port of an http or https address, in small letters and without
// the scheme's own port; nothing for any other text.
std::optional<std::string> Authority(std::string_view address) {
  const std::string lowered = Lowered(address.substr(0, 8));
  std::string_view defaultPort;
  if (lowered.rfind("http://", 0) == 0) {
    address.remove_prefix(7);
    defaultPort = ":80";
  } else if (lowered.rfind("https://", 0) == 0) {
    address.remove_prefix(8);
    defaultPort = ":443";
  } else {
    return std::nullopt;
  }
  std::string authority = Lowered(address.substr(0, address.find_first_of("/?#")));
  if (authority.size() > defaultPort.size() &&
      authority.compare(authority.size() - defaultPort.size(), defaultPort.size(), defaultPort) ==
          0) {
    authority.resize(authority.size() - defaultPort.size());
  }
  return authority;
}

}  // namespace

std::string AddressProblem(std::string_view address, std::string_view origin) {
  if (address.empty()) return "地址是空的。";
  if (IsWrappedLink(address)) {
    return "这是下载工具的链接，不是文件页地址：其中的地址请用 sorrel-resolve decode 取出。";
  }
  const std::optional<std::string> authority = Authority(address);
  if (!authority) return "这不是以 http:// 或 https:// 开头的网址。";
  for (const char c : address) {
    if (static_cast<unsigned char>(c) <= 0x20) return "地址无效。";
  }
  if (authority->empty() || HasControlCharacters(address)) return "地址无效。";
  if (authority != Authority(origin)) {
    return "地址不在服务 " + std::string(origin) +
           " 上：验证码和登录都在该服务上进行（另一个服务请用 --origin 指定）。";
  }
  return {};
}

const char* UsageText() {
  return "用法：sorrel-resolve [选项] 地址...\n"
         "      sorrel-resolve decode 链接...\n"
         "      sorrel-resolve encode 地址...\n"
         "      sorrel-resolve history [--json] [--limit N] | --clear\n"
         "详见 sorrel-resolve --help\n";
}

const char* HelpText() {
  return "用法：sorrel-resolve [选项] 地址...        解析文件页面，得到下载地址\n"
         "      sorrel-resolve decode 链接...        取出 thunder://、flashget://、qqdl:// "
         "链接里的地址\n"
         "      sorrel-resolve encode 地址...        给出普通地址的三种链接形式\n"
         "      sorrel-resolve history [选项]        列出或清空历史记录\n"
         "\n"
         "解析选项：\n"
         "  -i, --input 文件          从文件读取地址，一行一个；跳过空行和以 # 开头的行；\n"
         "                            文件为 - 时读标准输入。重复的地址只解析一次。\n"
         "      --extract             把 -i 的文件当作一段文字（论坛帖子、聊天记录、邮件），\n"
         "                            取出其中所有的文件页地址和 thunder://、flashget://、\n"
         "                            qqdl:// 链接，按出现的顺序，重复的只取一次；邮件折成\n"
         "                            两行的地址会接回。链接不访问网络，直接解出三个地址\n"
         "                            （状态 ok）。\n"
         "      --json                每个地址在标准输出写一行 JSON 对象，按输入顺序：\n"
         "                            {\"address\", \"status\", \"normal\", \"thunder\", "
         "\"flashget\", \"message\"}\n"
         "                            status 为 "
         "ok、removed、no-form、wrong-captcha、bad-captcha、\n"
         "                            no-address、unreachable、timeout、too-large、invalid 之一；\n"
         "                            三个地址只在 ok 时出现，其他状态带中文说明 message。\n"
         "                            全部文字为 UTF-8。\n"
         "      --captcha-program 程序\n"
         "                            以验证码图片的文件路径为唯一参数运行该程序（不经 shell），\n"
         "                            取其输出的第一行作为验证码；60 秒内没有结果即放弃。\n"
         "      --captcha-file 路径   把验证码图片写到该路径，再从终端读验证码\n"
         "                            （没有终端时从标准输入读一行）。\n"
         "      --tries N             验证码错误时换一张新图再试，每个地址最多 N 次\n"
         "                            （N 为 1 到 100 的整数，默认 3）。\n"
         "      --origin 地址         本次使用的服务地址（默认为内置地址或环境变量\n"
         "                            SORREL_SERVICE_ORIGIN）。\n"
         "      --proxy 代理地址      文件页、验证码图片、登录、链接检查和 aria2 "
         "的下载都经该代理：\n"
         "                            http://[用户名[:密码]@]主机:端口 或 socks5h://主机:端口\n"
         "                            （主机名由代理解析；aria2 不支持 SOCKS 代理）。不带此选项时\n"
         "                            与其他 Unix 命令一样使用环境变量 http_proxy、https_proxy、\n"
         "                            all_proxy 和 no_proxy（大小写均可）。代理出错时 message\n"
         "                            说明是代理的问题，状态仍为 unreachable 或 timeout。\n"
         "      --no-proxy            不用代理，也不看环境变量，直接连接。\n"
         "      --proxy-password-file 文件\n"
         "                            从文件的第一行读取代理的密码（密码不放在命令行上）；\n"
         "                            --proxy 里须带用户名。\n"
         "      --check               检查得到的普通下载地址是否还能下载（只取第一个字节），\n"
         "                            给出文件名、大小和链接状态 link_status：ok、expired、\n"
         "                            gone、html、unreachable、timeout 之一。\n"
         "      --aria2[=地址]        把文件交给 aria2 下载。地址是 aria2 的 JSON-RPC 地址，\n"
         "                            例如 http://127.0.0.1:6800/jsonrpc；不带地址时启动一个\n"
         "                            本工具自己的 aria2c（只在本机回环地址上监听，随本工具\n"
         "                            退出，下载到用户的下载文件夹），并等待下载完成。\n"
         "      --aria2-secret-file 文件\n"
         "                            从文件的第一行读取 aria2 的 RPC "
         "密钥（密钥不放在命令行上）。\n"
         "      --dir 文件夹          本次下载到该文件夹。\n"
         "      --no-history          本次的解析不记入历史记录。\n"
         "      --wait                等待下载结束；标准错误是终端时显示进度条。下载地址\n"
         "                            过期时为同一页面重新输入验证码，换上新地址接着下载。\n"
         "                            JSON 中的 download 为 complete、error 或 gone。\n"
         "  -q, --quiet               标准错误上不写进度和失败说明。\n"
         "      --version             显示版本。\n"
         "  -h, --help                显示本说明。\n"
         "\n"
         "在终端里运行时，验证码图片直接画在终端里，验证码从终端读入。既没有终端，\n"
         "又没有 --captcha-program 或 --captcha-file 时，地址的状态为 invalid。\n"
         "\n"
         "不带 --json 时，每个地址的三个下载地址写在标准输出上各自的标题下，\n"
         "失败的地址在标准错误上写一行说明。\n"
         "\n"
         "history 列出历史记录，最新的在前：每次得到下载地址的解析，连同文件名、大小、\n"
         "链接检查和 aria2 下载的结果，都保存在 $XDG_DATA_HOME/sorrel-resolver/history\n"
         "（仅本人可读，最多保存最新的 10000 条）。\n"
         "      --json                每条写一行 JSON 对象：{\"time\", \"address\", \"name\", "
         "\"size\",\n"
         "                            \"normal\", \"thunder\", \"flashget\", \"link_status\", "
         "\"engine\",\n"
         "                            \"gid\", \"download\"}；time 为 1970 年起的秒数（UTC）。\n"
         "      --limit N             只列出最新的 N 条（N 为 1 到 10000 的整数）。\n"
         "      --clear               清空历史记录。\n"
         "\n"
         "decode 把每个链接里的地址单独写成标准输出的一行；出错的链接在标准错误上\n"
         "说明原因，然后继续处理下一个。encode 为每个地址写三行：迅雷、快车、QQ旋风链接。\n"
         "\n"
         "退出状态：\n"
         "  0  全部地址（链接）都处理成功（带 --aria2 时都已交给 aria2；带 --wait 时\n"
         "     都已下载完成；带 --check 时链接都有效）\n"
         "  1  至少有一个失败\n"
         "  2  命令行有误（用法写在标准错误上，标准输出上什么也不写）\n";
}

}  // namespace sorrel::cli
