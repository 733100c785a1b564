#include "request_log.h"

#include "text_util.h"

namespace sorrel::sim {

std::string FormatLogEntry(const Request& request, std::uint64_t seq) {
  std::string out = "{\"seq\":" + std::to_string(seq);
  out += ",\"peer\":" + JsonString(request.peer);
  out += ",\"request_line\":" +
         JsonString(request.method + " " + request.target + " " + request.version);
  out += ",\"headers\":[";
  for (size_t i = 0; i < request.headerLines.size(); ++i) {
    if (i) out += ',';
    out += JsonString(request.headerLines[i]);
  }
  out += "],\"body\":" + JsonString(request.body);
  out += ",\"raw_base64\":\"" + Base64Encode(request.raw) + "\"}";
  return out;
}

bool RequestLog::OpenFile(const std::string& path, std::string& error) {
  file_.open(path, std::ios::binary | std::ios::trunc);
  if (!file_) {
    error = "cannot write the request log '" + path + "'";
    return false;
  }
  return true;
}

void RequestLog::Record(const Request& request) {
  std::lock_guard lock(mutex_);
  std::string line = FormatLogEntry(request, ++seq_);
  if (file_.is_open()) {
    file_ << line << '\n';
    file_.flush();
  }
  lines_.push_back(std::move(line));
  if (lines_.size() > kKept) lines_.pop_front();
}

std::string RequestLog::Text() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const std::string& line : lines_) {
    out += line;
    out += '\n';
  }
  return out;
}

void RequestLog::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

}  // namespace sorrel::sim
