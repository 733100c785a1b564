#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/cli/captcha_input.h"
#include "app/cli/commands.h"
#include "app/cli/console.h"
#include "app/cli/engines_headless.h"
#include "app/cli/hand_off.h"
#include "app/cli/history_record.h"
#include "app/cli/interrupt.h"
#include "app/cli/local_files.h"
#include "app/program.h"
#include "http/proxy.h"
#include "resolve/link_codec.h"
#include "resolve/service_origin.h"
#include "resolve/texts.h"
#include "text/codepage.h"
#include "text/escape_controls.h"

namespace sorrel::cli {

namespace {

constexpr std::chrono::seconds kCaptchaProgramLimit{60};

// The view of the workflows: the address and the code it is given, the
// picture the captcha refresh shows, and the outcome of the last run. The
// workflows' notices and result text are the window's; the command line
// speaks through the outcome.
class CommandLineView : public ResolverView {
 public:
  Text AddressText() override { return address; }
  Text CaptchaText() override { return code; }
  void SetResultText(const Text&) override {}
  void SetResolveButton(bool, const Text&) override {}
  void SetPicture(const ByteSet& bytes) override { picture = bytes; }
  ByteSet Picture() override { return picture; }
  void ShowMessage(const Text&) override {}
  void ReportOutcome(ResolveOutcome reported) override { outcome = reported; }
  // Nothing waits in a queue: no window.
  void ProcessPendingEvents() override {}

  Text address;
  Text code;
  ByteSet picture;
  ResolveOutcome outcome = ResolveOutcome::kInvalid;
};

struct Status {
  const char* name;
  const char* message;
};

// What each ending of a run is called in the JSON lines and told the user.
struct OutcomeStatus {
  ResolveOutcome outcome;
  Status status;
};

constexpr OutcomeStatus kOutcomeStatuses[] = {
    {ResolveOutcome::kResolved, {"ok", ""}},
    {ResolveOutcome::kRemoved, {"removed", "文件已到期、被删除或不存在。"}},
    {ResolveOutcome::kNoCaptchaForm, {"no-form", "页面上没有验证码表单，这可能不是文件页面。"}},
    {ResolveOutcome::kWrongCaptcha, {"wrong-captcha", "验证码输入错误，尝试次数已用完。"}},
    {ResolveOutcome::kNoAddress, {"no-address", "服务的回答里没有下载地址。"}},
    {ResolveOutcome::kUnreachable, {"unreachable", "无法连接到服务。"}},
    {ResolveOutcome::kTimedOut, {"timeout", "服务没有在限定时间内回答。"}},
    {ResolveOutcome::kTooLarge, {"too-large", "服务的回答太大。"}},
    {ResolveOutcome::kConnectionCut, {"unreachable", "连接中断，服务的回答不完整。"}},
    {ResolveOutcome::kRedirectLoop, {"unreachable", "服务的页面不断重定向，无法打开。"}},
    {ResolveOutcome::kBadCaptcha, {"bad-captcha", "服务发来的验证码图片已损坏或无法显示。"}},
    {ResolveOutcome::kAddressTooLong, {"invalid", "地址太长，无法发送。"}},
};

// A replaced or invalid run, and any other, is an invalid address.
Status StatusOf(ResolveOutcome outcome) {
  for (const OutcomeStatus& entry : kOutcomeStatuses) {
    if (entry.outcome == outcome) return entry.status;
  }
  return {"invalid", "地址无效。"};
}

struct Result {
  ResolveOutcome outcome = ResolveOutcome::kInvalid;
  std::string message;  // overrides the status's own when set
  std::string normal, thunder, flashget;
  HandOffResult handOff;
};

Result Ended(ResolveOutcome outcome, std::string message = {}) {
  Result result;
  result.outcome = outcome;
  result.message = std::move(message);
  return result;
}

bool WriteFile(const std::string& path, const ByteSet& bytes) {
  std::ofstream out(LocalPath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::chrono::milliseconds CaptchaProgramLimit() {
  // Tests shorten the wait for a program that never answers.
  if (const char* seconds = std::getenv("SORREL_CAPTCHA_PROGRAM_SECONDS")) {
    const int value = std::atoi(seconds);
    if (value > 0) return std::chrono::seconds(value);
  }
  return kCaptchaProgramLimit;
}

class Resolution {
 public:
  Resolution(const Options& options, bool stdinTaken, size_t count)
      : options_(options),
        console_(Console::Find(stdinTaken)),
        stdinTaken_(stdinTaken),
        progress_(count > 1 && !options.quiet && IsTerminal(Stream::kError)),
        program_(HeadlessPlatformEngines(options.quiet), view_,
                 options.origin.empty() ? ServiceOrigin() : Utf8ToGbk(options.origin)),
        handOff_(options, program_.Engines()),
        record_(options, program_.Services().base64) {
    program_.Workflows().SetProxy(options.proxy);
    handOff_.onSent = [this](const std::string& gid) { record_.Sent(gid); };
  }

  ~Resolution() {
    if (!pictureDir_.empty()) {
      ForgetTemporaryPicture();
      std::error_code ignored;
      std::filesystem::remove_all(LocalPath(pictureDir_), ignored);
    }
  }

  void ShowProgress(size_t k, size_t n, const std::string& address) {
    if (!progress_) return;
    Write(Stream::kError, "\r\x1b[K正在解析第 " + std::to_string(k) + " 个，共 " +
                              std::to_string(n) + " 个：" + EscapeControls(address));
  }
  void ClearProgress() {
    if (progress_) Write(Stream::kError, "\r\x1b[K");
  }

  std::string PrepareHandOff() { return handOff_.Prepare(); }
  bool HandOffWanted() const { return handOff_.Wanted(); }
  HandOffResult HandOver(const std::string& normal, const std::string& page) {
    ClearProgress();
    HandOffResult result =
        handOff_.Run(normal, page, [this](const std::string& again) { return Renew(again); });
    record_.HandedOff(result);
    return result;
  }

  Result Resolve(const std::string& address) {
    view_.address = Utf8ToGbk(address);
    view_.code.clear();
    view_.picture.clear();
    Resolver& workflows = program_.Workflows();

    workflows.RefreshCaptcha();
    if (view_.outcome != ResolveOutcome::kResolved) return Failed(address);
    if (view_.picture.empty()) return Ended(ResolveOutcome::kInvalid, "没有取到验证码图片。");

    for (int attempt = 1;; ++attempt) {
      std::string error;
      const std::optional<std::string> code = AskCode(address, error);
      if (!code) return Ended(ResolveOutcome::kInvalid, error);
      view_.code = Utf8ToGbk(*code);
      workflows.ResolveDownloadAddresses();
      if (view_.outcome == ResolveOutcome::kResolved) {
        const ProgramState& state = program_.State();
        Result result = Ended(ResolveOutcome::kResolved);
        result.normal = GbkToUtf8(state.NormalLink);
        result.thunder = GbkToUtf8(state.ThunderLink);
        result.flashget = GbkToUtf8(state.FlashGetLink);
        // They go to a terminal, a script or an engine as they are.
        if (HasControlCharacters(result.normal) || HasControlCharacters(result.thunder) ||
            HasControlCharacters(result.flashget)) {
          return Ended(ResolveOutcome::kNoAddress, "服务的回答里的下载地址含有控制字符。");
        }
        if (std::string refusal = handOff_.Refusal(result.normal); !refusal.empty()) {
          return Ended(ResolveOutcome::kInvalid, std::move(refusal));
        }
        record_.Resolved(address, result.normal, result.thunder, result.flashget);
        return result;
      }
      if (view_.outcome != ResolveOutcome::kWrongCaptcha || attempt >= options_.tries) {
        return Failed(address);
      }
      if (!options_.quiet && console_.present() && options_.captchaProgram.empty()) {
        console_.Write("验证码输入错误，请看新的图片重新输入。\n");
      }
      // The resolution fetched a fresh picture itself; when that failed,
      // one more try tells why.
      if (view_.picture.empty()) {
        workflows.RefreshCaptcha();
        if (view_.outcome != ResolveOutcome::kResolved) return Failed(address);
        if (view_.picture.empty()) return Ended(ResolveOutcome::kInvalid, "没有取到验证码图片。");
      }
    }
  }

  // A wrapped link taken from free text: its three addresses at once, with
  // no request, as a resolution gives them. It resolves nothing, so the
  // history keeps nothing of it.
  Result Open(const std::string& link) {
    record_.Skip();
    const DecodedLink decoded = DecodeWrappedLink(program_.Services().base64, link);
    if (!decoded.ok) return Ended(ResolveOutcome::kInvalid, decoded.error);
    Result result = Ended(ResolveOutcome::kResolved);
    result.normal = decoded.address;
    result.thunder = EncodeThunder(program_.Services().base64, decoded.address);
    result.flashget = EncodeFlashGet(program_.Services().base64, decoded.address);
    // It goes to a terminal, a script or an engine as it is.
    if (HasControlCharacters(result.normal)) {
      return Ended(ResolveOutcome::kInvalid, "链接解码后的地址含有控制字符。");
    }
    if (std::string refusal = handOff_.Refusal(result.normal); !refusal.empty()) {
      return Ended(ResolveOutcome::kInvalid, std::move(refusal));
    }
    return result;
  }

 private:
  // The workflows' outcome; a proxy that gave no answer says so itself, so
  // that the user looks at the network setting rather than the service.
  Result Failed(const std::string& address) {
    const RequestFailure proxy = program_.Workflows().ProxyFailure();
    const bool network =
        view_.outcome == ResolveOutcome::kUnreachable || view_.outcome == ResolveOutcome::kTimedOut;
    if (!network || proxy == RequestFailure::kNone) return Ended(view_.outcome);
    return Ended(view_.outcome,
                 ProxyFailureSentence(proxy, options_.proxy, address, ProcessEnvironment()));
  }

  // A fresh address for the page of a download whose address expired.
  FreshAddress Renew(const std::string& page) {
    const Result again = Resolve(page);
    if (again.outcome == ResolveOutcome::kResolved) {
      return {FreshAddress::Kind::kAddress, again.normal, {}};
    }
    if (again.outcome == ResolveOutcome::kRemoved) {
      return {FreshAddress::Kind::kGone, {}, GbkToUtf8(texts::RemovedFileMarker())};
    }
    return {FreshAddress::Kind::kFailed,
            {},
            again.message.empty() ? StatusOf(again.outcome).message : again.message};
  }

  std::optional<std::string> AskCode(const std::string& address, std::string& error) {
    if (!options_.captchaProgram.empty()) {
      const std::string path = PicturePath();
      if (path.empty() || !WriteFile(path, view_.picture)) {
        error = "无法写出验证码图片。";
        return std::nullopt;
      }
      ProgramAnswer answer =
          AskCaptchaProgram(options_.captchaProgram, path, CaptchaProgramLimit());
      if (!answer.code) error = answer.error + "。";
      return answer.code;
    }
    if (!options_.captchaFile.empty()) {
      if (!WriteFile(options_.captchaFile, view_.picture)) {
        error = "无法把验证码图片写到 " + options_.captchaFile + "。";
        return std::nullopt;
      }
      if (!console_.present()) {
        // No terminal: a script answers on standard input.
        std::optional<std::string> line = stdinTaken_ ? std::nullopt : ReadInputLine();
        if (!line || line->empty()) error = "没有读到验证码：标准输入上没有一行验证码。";
        return line && !line->empty() ? line : std::nullopt;
      }
      ClearProgress();
      console_.Write("验证码图片已写到 " + options_.captchaFile + "\n");
      return ReadFromTerminal(error);
    }
    if (!console_.present()) {
      error = "没有终端可以显示验证码：请用 --captcha-program 或 --captcha-file 选项。";
      return std::nullopt;
    }
    if (!console_.drawsPictures()) {
      // A console that shows no colours gets the picture as a file.
      const std::string path = PicturePath();
      if (path.empty() || !WriteFile(path, view_.picture)) {
        error = "无法写出验证码图片。";
        return std::nullopt;
      }
      ClearProgress();
      console_.Write(EscapeControls(address) + "\n验证码图片已写到 " + EscapeControls(path) + "\n");
      return ReadFromTerminal(error);
    }
    const RasterImage picture = DecodeRaster(view_.picture);
    ClearProgress();
    console_.Write(EscapeControls(address) + "\n" +
                   DrawPicture(picture, console_.columns(), console_.colour()));
    return ReadFromTerminal(error);
  }

  std::optional<std::string> ReadFromTerminal(std::string& error) {
    console_.Write("请输入验证码：");
    std::optional<std::string> line = console_.ReadLine();
    if (line) {
      const size_t first = line->find_first_not_of(" \t");
      *line = first == std::string::npos
                  ? std::string()
                  : line->substr(first, line->find_last_not_of(" \t") - first + 1);
    }
    if (!line) console_.Write("\n");
    if (!line || line->empty()) {
      error = "没有输入验证码。";
      return std::nullopt;
    }
    return line;
  }

  // A private folder of this run for the picture handed to the program.
  std::string PicturePath() {
    if (pictureDir_.empty()) {
      pictureDir_ = MakePrivateFolder();
      if (pictureDir_.empty()) return {};
      NoteTemporaryPicture(FileIn(pictureDir_, "captcha.gif"), pictureDir_);
    }
    return FileIn(pictureDir_, "captcha.gif");
  }

  const Options& options_;
  Console console_;
  bool stdinTaken_;
  bool progress_;
  std::string pictureDir_;
  CommandLineView view_;
  Program program_;
  HandOff handOff_;
  HistoryRecord record_;
};

void PrintJson(const std::string& address, const Result& result) {
  const Status status = StatusOf(result.outcome);
  nlohmann::ordered_json line;
  line["address"] = address;
  line["status"] = status.name;
  if (result.outcome == ResolveOutcome::kResolved) {
    line["normal"] = result.normal;
    line["thunder"] = result.thunder;
    line["flashget"] = result.flashget;
    const HandOffResult& handOff = result.handOff;
    if (handOff.check) {
      line["name"] = handOff.check->name;
      if (handOff.check->size >= 0) line["size"] = handOff.check->size;
      line["link_status"] = LinkStatusName(handOff.check->status);
    }
    if (!handOff.gid.empty()) line["gid"] = handOff.gid;
    if (!handOff.download.empty()) line["download"] = handOff.download;
    if (handOff.renewals > 0) line["renewals"] = handOff.renewals;
    if (!handOff.message.empty()) line["message"] = handOff.message;
  } else {
    line["message"] = result.message.empty() ? status.message : result.message;
  }
  const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  Write(Stream::kOut, text + "\n");
}

// One line on standard error; what came from outside shown escaped.
void PrintFailure(const std::string& address, const std::string& message) {
  const std::string about = address.empty() ? std::string() : EscapeControls(address) + ": ";
  Write(Stream::kError, "sorrel-resolve: " + about + EscapeControls(message) + "\n");
}

void PrintHandOff(const std::string& address, const HandOffResult& handOff, bool quiet) {
  if (handOff.check) {
    const LinkCheck& check = *handOff.check;
    Write(Stream::kOut, "\n链接检查：" + LinkStatusSentence(check.status) + "（" +
                            std::string(LinkStatusName(check.status)) + "）文件名：" +
                            EscapeControls(check.name) + "，大小：" + HumanSize(check.size) + "\n");
  }
  if (!handOff.gid.empty()) {
    Write(Stream::kOut, "\n已交给 aria2 下载，GID：" + EscapeControls(handOff.gid) +
                            (handOff.download == "complete" ? "，已下载完成" : "") + "\n");
  }
  if (!handOff.ok && !quiet && !handOff.message.empty()) PrintFailure(address, handOff.message);
}

}  // namespace

int RunResolve(const Options& options, const std::vector<std::string>& addresses) {
  HandleInterrupts();
  const std::string origin = RunOrigin(options);
  bool stdinTaken = false;
  for (const std::string& file : options.inputFiles) stdinTaken = stdinTaken || file == "-";
  int status = kExitOk;
  int interruptedBy = 0;
  {
    Options run = options;
    if (std::string why; !RunProxy(options, run.proxy, why)) {
      if (!options.quiet) PrintFailure("", why);
      return kExitFailed;
    }
    Resolution resolution(run, stdinTaken, addresses.size());
    if (const std::string why = resolution.PrepareHandOff(); !why.empty()) {
      if (!options.quiet) PrintFailure("", why);
      return kExitFailed;
    }
    bool printedBlock = false;
    for (size_t k = 0; k < addresses.size(); ++k) {
      const std::string& address = addresses[k];
      // What is no page of the service is refused before anything is sent;
      // links taken from free text are opened.
      const bool link = options.extract && IsWrappedLink(address);
      const std::string problem = link ? std::string() : AddressProblem(address, origin);
      resolution.ShowProgress(k + 1, addresses.size(), address);
      Result result = link              ? resolution.Open(address)
                      : problem.empty() ? resolution.Resolve(address)
                                        : Ended(ResolveOutcome::kInvalid, problem);
      resolution.ClearProgress();
      const bool ok = result.outcome == ResolveOutcome::kResolved;
      // The addresses come out before a wait, so that an interrupted one
      // loses nothing; the JSON line keeps them with the rest.
      if (ok && !options.json) {
        std::string block = printedBlock ? "\n" : "";
        if (addresses.size() > 1) block += address + "\n";
        Write(Stream::kOut, block + "普通下载地址：\n\n" + result.normal +
                                "\n\n迅雷下载地址：\n\n" + result.thunder +
                                "\n\n快车下载地址：\n\n" + result.flashget + "\n");
        printedBlock = true;
      }
      if (ok && resolution.HandOffWanted()) {
        result.handOff = resolution.HandOver(result.normal, address);
      }
      if (!ok || !result.handOff.ok) status = kExitFailed;
      if (options.json) {
        PrintJson(address, result);
      } else if (ok) {
        PrintHandOff(address, result.handOff, options.quiet);
      } else if (!options.quiet) {
        PrintFailure(address,
                     result.message.empty() ? StatusOf(result.outcome).message : result.message);
      }
      if (result.handOff.signal != 0) {
        interruptedBy = result.handOff.signal;
        break;
      }
    }
  }
  // Ended as the interrupt ends a program, once everything is said and the
  // engine and the picture's folder are gone.
  if (interruptedBy != 0) EndAsInterrupted(interruptedBy);
  return status;
}

}  // namespace sorrel::cli
