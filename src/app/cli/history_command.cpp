#include <time.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "app/cli/commands.h"
#include "app/history.h"
#include "app/history_file.h"
#include "download/link_check.h"
#include "text/escape_controls.h"

namespace sorrel::cli {

namespace {

std::string LocalTime(std::int64_t seconds) {
  const time_t when = static_cast<time_t>(seconds);
  tm local{};
  char text[32] = "";
  if (localtime_r(&when, &local) != nullptr) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
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
  std::fputs(text.c_str(), stdout);
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
  std::printf("%s\n", text.c_str());
}

}  // namespace

int RunHistory(const Options& options) {
  History history(DefaultHistoryPath());
  if (options.clear) {
    if (!history.Clear()) {
      std::fprintf(stderr, "sorrel-resolve: %s\n", EscapeControls(history.error()).c_str());
      return kExitFailed;
    }
    std::printf("已清空历史记录。\n");
    return kExitOk;
  }
  HistoryContents contents;
  if (!history.Read(contents)) {
    std::fprintf(stderr, "sorrel-resolve: %s\n", EscapeControls(history.error()).c_str());
    return kExitFailed;
  }
  if (contents.damaged > 0) {
    std::fprintf(stderr, "sorrel-resolve: 历史记录里有 %zu 行已损坏，已跳过并删除。\n",
                 contents.damaged);
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
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace sorrel::cli
