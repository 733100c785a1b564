#include "app/cli/history_record.h"

#include "app/cli/console.h"
#include "app/history_file.h"
#include "download/file_name.h"
#include "text/escape_controls.h"

namespace sorrel::cli {

HistoryRecord::HistoryRecord(const Options& options, const Base64Engine& base64)
    : options_(options) {
  if (options.keepHistory) history_.emplace(base64, DefaultHistoryPath());
}

void HistoryRecord::Resolved(const std::string& page, const std::string& normal,
                             const std::string& thunder, const std::string& flashget) {
  id_.clear();
  if (!history_) return;
  HistoryEntry entry;
  entry.page = page;
  entry.name = FileNameFromAddress(normal);
  entry.normal = normal;
  entry.thunder = thunder;
  entry.flashget = flashget;
  id_ = history_->Add(std::move(entry));
  if (id_.empty()) Warn();
  SayDropped();
}

void HistoryRecord::Sent(const std::string& gid) {
  HistoryChange change;
  change.download =
      HistoryDownload{options_.aria2Address.empty() ? std::string(kOwnEngine)
                                                    : EngineForHistory(options_.aria2Address),
                      gid, "sent"};
  Apply(change);
}

void HistoryRecord::HandedOff(const HandOffResult& result) {
  HistoryChange change;
  if (result.check) {
    change.check = std::string(LinkStatusName(result.check->status));
    if (!result.check->name.empty()) change.name = result.check->name;
    if (result.check->size >= 0) change.size = result.check->size;
  }
  if (!result.download.empty()) {
    change.download =
        HistoryDownload{options_.aria2Address.empty() ? std::string(kOwnEngine)
                                                      : EngineForHistory(options_.aria2Address),
                        result.gid, result.download};
  }
  if (change.check || change.download) Apply(change);
}

void HistoryRecord::Apply(const HistoryChange& change) {
  if (!history_ || id_.empty()) return;
  if (!history_->Change(id_, change)) Warn();
  SayDropped();
}

void HistoryRecord::SayDropped() {
  const std::size_t dropped = history_->TakeDropped();
  if (dropped == 0 || options_.quiet) return;
  Write(Stream::kError,
        "sorrel-resolve: 历史记录里有 " + std::to_string(dropped) + " 行已损坏，已跳过并删除。\n");
}

void HistoryRecord::Warn() {
  if (warned_ || options_.quiet) return;
  warned_ = true;
  Write(Stream::kError,
        "sorrel-resolve: 无法记入历史记录：" + EscapeControls(history_->error()) + "\n");
}

}  // namespace sorrel::cli
