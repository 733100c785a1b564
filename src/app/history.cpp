#include "app/history.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <ctime>
#include <nlohmann/json.hpp>
#include <random>
#include <unordered_map>
#include <utility>

#include "app/history_file.h"
#include "resolve/link_codec.h"

namespace sorrel {

namespace {

using nlohmann::json;

std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void PutDownload(json& object, const HistoryDownload& download) {
  if (download.engine.empty()) return;
  object["engine"] = download.engine;
  if (!download.gid.empty()) object["gid"] = download.gid;
  object["download"] = download.state;
}

enum class Field {
  kNone,
  kId,
  kTime,
  kRemoved,
  kSet,
  kPage,
  kName,
  kSize,
  kNormal,
  kThunder,
  kFlashGet,
  kCheck,
  kEngine,
  kGid,
  kDownload,
};

Field FieldNamed(std::string_view key, bool inSet) {
  static constexpr std::pair<std::string_view, Field> kFields[] = {
      {"page", Field::kPage},         {"name", Field::kName},       {"size", Field::kSize},
      {"normal", Field::kNormal},     {"thunder", Field::kThunder}, {"flashget", Field::kFlashGet},
      {"check", Field::kCheck},       {"engine", Field::kEngine},   {"gid", Field::kGid},
      {"download", Field::kDownload},
  };
  for (const auto& [name, field] : kFields) {
    if (key == name) return field;
  }
  if (inSet) return Field::kNone;
  if (key == "id") return Field::kId;
  if (key == "time") return Field::kTime;
  if (key == "removed") return Field::kRemoved;
  if (key == "set") return Field::kSet;
  return Field::kNone;
}

// The fields of an entry that one line gives: all of an entry's, or those
// of a change.
struct Fields {
  std::optional<std::string> page, name, normal, thunder, flashget, check, engine, gid, download;
  std::optional<std::int64_t> size;

  std::optional<std::string>* Text(Field field) {
    switch (field) {
      case Field::kPage:
        return &page;
      case Field::kName:
        return &name;
      case Field::kNormal:
        return &normal;
      case Field::kThunder:
        return &thunder;
      case Field::kFlashGet:
        return &flashget;
      case Field::kCheck:
        return &check;
      case Field::kEngine:
        return &engine;
      case Field::kGid:
        return &gid;
      case Field::kDownload:
        return &download;
      default:
        return nullptr;
    }
  }

  void ApplyTo(HistoryEntry& entry) && {
    if (page) entry.page = std::move(*page);
    if (name) entry.name = std::move(*name);
    if (size) entry.size = *size;
    if (normal) entry.normal = std::move(*normal);
    if (thunder) entry.thunder = std::move(*thunder);
    if (flashget) entry.flashget = std::move(*flashget);
    if (check) entry.check = std::move(*check);
    if (engine) entry.download.engine = std::move(*engine);
    if (gid) entry.download.gid = std::move(*gid);
    if (download) entry.download.state = std::move(*download);
  }
};

// Reads one line as the parser walks it, straight into the fields, with no
// document built in between: 10,000 entries are read while a window opens.
// Fields it does not know are passed over, so that a later version's lines
// are read as far as they can be.
class LineReader {
 public:
  std::optional<std::string> id;
  std::optional<std::int64_t> time;
  std::optional<bool> removed;
  bool isChange = false;
  Fields top, set;

  // Whether the line was one object with the fields it has in their shapes.
  bool Sound() const { return sound_ && object_; }

  bool null() { return Ignored() || Wrong(); }
  bool boolean(bool value) {
    if (Ignored()) return true;
    if (field_ != Field::kRemoved) return Wrong();
    removed = value;
    return Took();
  }
  bool number_integer(json::number_integer_t value) {
    if (Ignored()) return true;
    if (field_ != Field::kTime && field_ != Field::kSize) return Wrong();
    (field_ == Field::kTime ? time : Target().size) = value;
    return Took();
  }
  bool number_unsigned(json::number_unsigned_t value) {
    if (Ignored()) return true;
    if (value > static_cast<json::number_unsigned_t>(INT64_MAX)) return Wrong();
    return number_integer(static_cast<json::number_integer_t>(value));
  }
  bool number_float(json::number_float_t, const std::string&) { return Ignored() || Wrong(); }
  bool binary(json::binary_t&) { return Ignored() || Wrong(); }
  bool string(std::string& value) {
    if (Ignored()) return true;
    if (field_ == Field::kId) {
      id = std::move(value);
    } else if (std::optional<std::string>* text = Target().Text(field_)) {
      *text = std::move(value);
    } else {
      return Wrong();
    }
    return Took();
  }
  bool start_object(std::size_t) {
    ++depth_;
    if (depth_ == 1) {
      object_ = true;
    } else if (depth_ == 2 && field_ == Field::kSet) {
      inSet_ = isChange = true;
    } else if (field_ != Field::kNone) {
      return Wrong();
    }
    field_ = Field::kNone;
    return true;
  }
  bool end_object() {
    if (depth_ == 2) inSet_ = false;
    --depth_;
    return true;
  }
  bool start_array(std::size_t) {
    if (depth_ == 0 || field_ != Field::kNone) Wrong();
    ++depth_;
    return sound_;
  }
  bool end_array() {
    --depth_;
    return true;
  }
  bool key(std::string& name) {
    field_ = Counts() ? FieldNamed(name, inSet_) : Field::kNone;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return Wrong();
  }

 private:
  // Whether a value here belongs to the line: the line's own fields and
  // those of its change.
  bool Counts() const { return depth_ == 1 || (depth_ == 2 && inSet_); }
  // A value of a field the line does not know, or inside one: passed over.
  bool Ignored() {
    if (Counts() && field_ != Field::kNone) return false;
    field_ = Field::kNone;
    return true;
  }
  bool Took() {
    field_ = Field::kNone;
    return true;
  }
  Fields& Target() { return inSet_ ? set : top; }
  bool Wrong() {
    sound_ = false;
    return false;
  }

  int depth_ = 0;
  bool inSet_ = false;
  bool object_ = false;
  bool sound_ = true;
  Field field_ = Field::kNone;
};

std::string FreshId() {
  std::random_device random;
  const std::uint64_t value = (std::uint64_t{random()} << 32) | random();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id(16, '0');
  for (int i = 0; i < 16; ++i) id[i] = kHex[(value >> (60 - 4 * i)) & 0xF];
  return id;
}

std::string Compacted(const Base64Engine& base64, const HistoryContents& contents) {
  std::string text;
  for (auto it = contents.entries.rbegin(); it != contents.entries.rend(); ++it) {
    text += HistoryEntryLine(base64, *it);
    text += '\n';
  }
  return text;
}

// The note in the lock file: how many lines the file had at what size.
std::string LineNote(std::size_t lines, std::uint64_t size) {
  return std::to_string(lines) + " " + std::to_string(size);
}

std::optional<std::size_t> NotedLines(const std::string& note, std::uint64_t size) {
  std::size_t lines = 0;
  std::uint64_t notedSize = 0;
  const char* end = note.data() + note.size();
  const auto first = std::from_chars(note.data(), end, lines);
  if (first.ec != std::errc() || first.ptr == end || *first.ptr != ' ') return std::nullopt;
  const auto second = std::from_chars(first.ptr + 1, end, notedSize);
  if (second.ec != std::errc() || notedSize != size) return std::nullopt;
  return lines;
}

}  // namespace

std::string HistoryEntryLine(const Base64Engine& base64, const HistoryEntry& entry) {
  json line;
  line["id"] = entry.id;
  line["time"] = entry.time;
  line["page"] = entry.page;
  if (!entry.name.empty()) line["name"] = entry.name;
  if (entry.size >= 0) line["size"] = entry.size;
  line["normal"] = entry.normal;
  // The service's two links are the normal address's usual wrappings; a
  // line keeps them only when they are not, and a read makes them again,
  // which costs less than reading them.
  if (entry.thunder != EncodeThunder(base64, entry.normal)) line["thunder"] = entry.thunder;
  if (entry.flashget != EncodeFlashGet(base64, entry.normal)) line["flashget"] = entry.flashget;
  if (!entry.check.empty()) line["check"] = entry.check;
  PutDownload(line, entry.download);
  return Dump(line);
}

std::string HistoryChangeLine(const std::string& id, const HistoryChange& change) {
  json line;
  line["id"] = id;
  if (change.remove) {
    line["removed"] = true;
    return Dump(line);
  }
  json& set = line["set"] = json::object();
  if (change.check) set["check"] = *change.check;
  if (change.name) set["name"] = *change.name;
  if (change.size) set["size"] = *change.size;
  if (change.download) PutDownload(set, *change.download);
  return Dump(line);
}

HistoryContents ParseHistory(const Base64Engine& base64, std::string_view text, std::size_t cap) {
  HistoryContents contents;
  std::vector<HistoryEntry> entries;  // oldest first; removed ones have no id
  std::unordered_map<std::string, std::size_t> byId;
  byId.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
  std::size_t live = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    // A last line without its line break was cut short by a kill.
    const bool finished = end != std::string_view::npos;
    if (!finished) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++contents.lines;
    if (line.empty() || line == "\r") continue;
    LineReader read;
    if (!finished || !json::sax_parse(line.begin(), line.end(), &read) || !read.Sound() ||
        !read.id || read.id->empty()) {
      ++contents.damaged;
      continue;
    }
    if (read.isChange || read.removed) {
      const auto found = byId.find(*read.id);
      if (found == byId.end()) continue;
      HistoryEntry& entry = entries[found->second];
      if (read.removed.value_or(false)) {
        entry.id.clear();
        byId.erase(found);
        --live;
      } else {
        std::move(read.set).ApplyTo(entry);
      }
      continue;
    }
    if (!read.time || !read.top.page || !read.top.normal) {
      ++contents.damaged;
      continue;
    }
    HistoryEntry entry;
    entry.id = *read.id;
    entry.time = *read.time;
    if (!read.top.thunder) read.top.thunder = EncodeThunder(base64, *read.top.normal);
    if (!read.top.flashget) read.top.flashget = EncodeFlashGet(base64, *read.top.normal);
    std::move(read.top).ApplyTo(entry);
    if (const auto found = byId.find(entry.id); found != byId.end()) {
      entries[found->second] = std::move(entry);
    } else {
      byId.emplace(entry.id, entries.size());
      entries.push_back(std::move(entry));
      ++live;
    }
  }
  contents.entries.reserve(std::min(live, cap));
  for (auto it = entries.rbegin(); it != entries.rend() && contents.entries.size() < cap; ++it) {
    if (!it->id.empty()) contents.entries.push_back(std::move(*it));
  }
  return contents;
}

History::History(const Base64Engine& base64, std::string path, std::size_t cap)
    : base64_(base64), path_(std::move(path)), cap_(cap) {}

std::string History::Add(HistoryEntry entry) {
  entry.id = FreshId();
  if (entry.time == 0) entry.time = static_cast<std::int64_t>(std::time(nullptr));
  return AppendLine(HistoryEntryLine(base64_, entry)) ? entry.id : std::string();
}

bool History::Change(const std::string& id, const HistoryChange& change) {
  return AppendLine(HistoryChangeLine(id, change));
}

bool History::AppendLine(const std::string& line) {
  if (path_.empty()) {
    error_ = "没有保存历史记录的文件夹。";
    return false;
  }
  HistoryFile file(path_);
  const std::string text = line + "\n";
  std::uint64_t before = 0, after = 0;
  if (!file.Open(error_) || !file.Append(text, before, after, error_)) return false;
  // The lines counted from the note when it speaks of the file as it was;
  // else from the file. A line break put before the line closes a line cut
  // short, which counts too.
  std::string content;
  std::size_t lines = 0;
  if (const std::optional<std::size_t> noted = NotedLines(file.Note(), before)) {
    lines = *noted + 1 + static_cast<std::size_t>(after - before - text.size());
  } else if (file.Read(content, error_)) {
    lines = static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n'));
    after = content.size();
  } else {
    return true;  // the line is in; the count waits for the next writer
  }
  if (lines > cap_ + cap_ / 10 && (!content.empty() || file.Read(content, error_))) {
    const HistoryContents contents = ParseHistory(base64_, content, cap_);
    const std::string compacted = Compacted(base64_, contents);
    // A compaction that fails leaves the file as it was, the line in it.
    std::string ignored;
    if (file.Replace(compacted, ignored)) {
      lines = contents.entries.size();
      after = compacted.size();
      dropped_ += contents.damaged;
    }
  }
  file.SetNote(LineNote(lines, after));
  return true;
}

std::size_t History::TakeDropped() { return std::exchange(dropped_, 0); }

bool History::Read(HistoryContents& contents) {
  contents = {};
  if (path_.empty()) return true;
  HistoryFile file(path_);
  if (!file.Exists()) return true;
  std::string text;
  if (!file.Open(error_) || !file.Read(text, error_)) return false;
  contents = ParseHistory(base64_, text, cap_);
  std::size_t lines = contents.lines;
  std::uint64_t size = text.size();
  if (contents.damaged > 0 || contents.lines > cap_ + cap_ / 10) {
    const std::string compacted = Compacted(base64_, contents);
    std::string ignored;
    if (file.Replace(compacted, ignored)) {
      lines = contents.entries.size();
      size = compacted.size();
    }
  }
  file.SetNote(LineNote(lines, size));
  return true;
}

bool History::Clear() {
  if (path_.empty()) return true;
  HistoryFile file(path_);
  if (!file.Exists()) return true;
  if (!file.Open(error_) || !file.Replace("", error_)) return false;
  file.SetNote(LineNote(0, 0));
  return true;
}

std::string EngineForHistory(std::string_view rpcAddress) {
  std::string_view address = rpcAddress.substr(0, rpcAddress.find_first_of("?#"));
  const std::size_t scheme = address.find("://");
  if (scheme == std::string_view::npos) return std::string(address);
  const std::size_t host = scheme + 3;
  const std::size_t path = std::min(address.find('/', host), address.size());
  const std::size_t at = address.substr(host, path - host).rfind('@');
  if (at == std::string_view::npos) return std::string(address);
  return std::string(address.substr(0, host)) + std::string(address.substr(host + at + 1));
}

}  // namespace sorrel
