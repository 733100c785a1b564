// What the tool resolved, kept between runs for both windows and the
// command line: one JSON object a line in a file of the user's data folder.
// Nothing here reads the file until asked, so that a start pays nothing for
// it. No secret of an engine and no cookie has a place in an entry. Texts
// are UTF-8. The Base64 of the link codec beneath it is the one the
// program was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "resolve/base64_standard.h"

namespace sorrel {

inline constexpr std::size_t kHistoryCap = 10000;

struct HistoryDownload {
  // "" when never sent; kOwnEngine for the tool's own aria2c, else the
  // engine's JSON-RPC address without user or password.
  std::string engine;
  std::string gid;
  // As the command line says them: "sent", then "complete" or "error", or
  // "partial" (the tool's own engine stopped half-way) or "interrupted" (no
  // longer waited on).
  std::string state;
};

inline constexpr std::string_view kOwnEngine = "aria2c";

struct HistoryEntry {
  std::string id;          // given by Add
  std::int64_t time = 0;   // seconds since 1970-01-01 UTC; Add gives now when 0
  std::string page;        // the file page resolved
  std::string name;        // the file's name as far as known
  std::int64_t size = -1;  // bytes; -1 when not known
  std::string normal, thunder, flashget;
  std::string check;  // the last link check's status ("ok", "expired", ...); "" never checked
  HistoryDownload download;
};

// What changes in an entry; what is unset stays as it is.
struct HistoryChange {
  std::optional<std::string> check;
  std::optional<std::string> name;
  std::optional<std::int64_t> size;
  std::optional<HistoryDownload> download;
  bool remove = false;
};

struct HistoryContents {
  std::vector<HistoryEntry> entries;  // newest first, at most the cap
  std::size_t damaged = 0;            // lines that could not be read, skipped
  std::size_t lines = 0;              // lines in the file, changes and damaged ones too
};

// The file's lines: an entry, or a change naming the entry it applies to.
std::string HistoryEntryLine(const Base64Engine& base64, const HistoryEntry& entry);
std::string HistoryChangeLine(const std::string& id, const HistoryChange& change);
// The entries that the lines leave, the newest `cap` of them. A line that is
// no entry or change of ours, or that was cut short, is counted and skipped;
// a change to an entry that is not there is nothing.
HistoryContents ParseHistory(const Base64Engine& base64, std::string_view text,
                             std::size_t cap = kHistoryCap);

// The history in its file. Each entry is appended as one line in one write
// and each change as another line, so that a writer killed at any moment
// leaves at most its own last line unfinished, and a run costs a line, not
// a rewrite of up to 10,000 entries. The file is rewritten whole (a
// temporary file, synced, renamed over it) only to drop what is past the
// cap, folded changes and damaged lines: when it has grown a tenth past the
// cap, and when a read found damage, so that each damaged line is reported
// once. Every running copy of the tool takes the lock beside the file first.
// One object serves one thread at a time; objects in other threads or
// processes share the file through that lock.
class History {
 public:
  History(const Base64Engine& base64, std::string path, std::size_t cap = kHistoryCap);

  // Appends `entry` with a fresh id (and the time now when it has none);
  // the id, or "" with error() set.
  std::string Add(HistoryEntry entry);
  bool Change(const std::string& id, const HistoryChange& change);
  // Newest first. Damaged lines are counted in `contents.damaged`, once:
  // the file is rewritten without them.
  bool Read(HistoryContents& contents);
  bool Clear();
  // Damaged lines that an Add or Change dropped from the file while it
  // rewrote it, since the last call; the caller says so, as a read would.
  std::size_t TakeDropped();

  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }

 private:
  bool AppendLine(const std::string& line);

  const Base64Engine& base64_;
  std::string path_;
  std::size_t cap_;
  std::string error_;
  std::size_t dropped_ = 0;
};

// The engine's address as a history keeps it: without the user and
// password that an address may carry, and without its query.
std::string EngineForHistory(std::string_view rpcAddress);

}  // namespace sorrel
