#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/console.h"
#include "app/history.h"
#include "app/history_file.h"
#include "download/link_check.h"
#include "text/escape_controls.h"

namespace sorrel::cli {

namespace {

std::string LocalTime(std::int64_t seconds) {
  const std::time_t when = static_cast<std::time_t>(seconds);
  char text[32] = "";
  // The command runs no other thread that reads the clock's shared result.
  if (const std::tm* local = std::localtime(&when)) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", local);
  }
  return text;
}

std::string CheckSentence(const std::string& name) {
  for (const LinkStatus status :
       {LinkStatus::kOk, LinkStatus::kExpired, LinkStatus::kGone, LinkStatus::kHtml,
        LinkStatus::kUnreachable, LinkStatus::kTimedOut}) {
    if (LinkStatusName(status) == name) return LinkStatusSentence(status);
  }
  return EscapeControls(name);
}

std::string DownloadSentence(const HistoryDownload& download) {
  const std::string state = download.state == "complete"  ? "已下载完成"
                            : download.state == "error"   ? "下载失败"
                            : download.state == "partial" ? "下载被中断，只下载了一部分"
                                                          : "已交给 aria2 下载";
  return download.gid.empty() ? state : state + "，GID：" + EscapeControls(download.gid);
}

void PrintEntry(const HistoryEntry& entry, bool first) {
  std::string text = first ? "" : "\n";
  text += LocalTime(entry.time) + "  " +
          (entry.name.empty() ? std::string("（文件名未知）") : EscapeControls(entry.name));
  if (entry.size >= 0) text += "（" + HumanSize(entry.size) + "）";
  text += "\n文件页：" + EscapeControls(entry.page) + "\n普通下载地址：" +
          EscapeControls(entry.normal) + "\n";
  if (!entry.check.empty()) text += "链接检查：" + CheckSentence(entry.check) + "\n";
  if (!entry.download.engine.empty()) text += "aria2：" + DownloadSentence(entry.download) + "\n";
  Write(Stream::kOut, text);
}

void PrintJson(const HistoryEntry& entry) {
  nlohmann::ordered_json line;
  line["time"] = entry.time;
  line["address"] = entry.page;
  if (!entry.name.empty()) line["name"] = entry.name;
  if (entry.size >= 0) line["size"] = entry.size;
  line["normal"] = entry.normal;
  line["thunder"] = entry.thunder;
  line["flashget"] = entry.flashget;
  if (!entry.check.empty()) line["link_status"] = entry.check;
  if (!entry.download.engine.empty()) {
    line["engine"] = entry.download.engine;
    if (!entry.download.gid.empty()) line["gid"] = entry.download.gid;
    line["download"] = entry.download.state;
  }
  const std::string text =
      line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  Write(Stream::kOut, text + "\n");
}

}  // namespace

int RunHistory(const Options& options, const Base64Engine& base64) {
  History history(base64, DefaultHistoryPath());
  if (options.clear) {
    if (!history.Clear()) {
      Write(Stream::kError, "sorrel-resolve: " + EscapeControls(history.error()) + "\n");
      return kExitFailed;
    }
    Write(Stream::kOut, "已清空历史记录。\n");
    return kExitOk;
  }
  HistoryContents contents;
  if (!history.Read(contents)) {
    Write(Stream::kError, "sorrel-resolve: " + EscapeControls(history.error()) + "\n");
    return kExitFailed;
  }
  if (contents.damaged > 0) {
    Write(Stream::kError, "sorrel-resolve: 历史记录里有 " + std::to_string(contents.damaged) +
                              " 行已损坏，已跳过并删除。\n");
  }
  const std::size_t count = options.limit > 0
                                ? std::min<std::size_t>(options.limit, contents.entries.size())
                                : contents.entries.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (options.json) {
      PrintJson(contents.entries[i]);
    } else {
      PrintEntry(contents.entries[i], i == 0);
    }
  }
  return kExitOk;
}

}  // namespace sorrel::cli
