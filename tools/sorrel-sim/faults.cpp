#include "faults.h"

#include <cstdint>

#include "text_util.h"

namespace sorrel::sim {
namespace {

bool ParseCount(std::string_view name, std::string_view value, int fallback, int max,
                std::optional<int>& out, std::string& error) {
  if (value.empty()) {
    out = fallback;
    return true;
  }
  std::uint64_t v = 0;
  if (!ParseUint(value, v) || v > static_cast<std::uint64_t>(max)) {
    error = "bad value '" + std::string(value) + "' for fault " + std::string(name);
    return false;
  }
  out = static_cast<int>(v);
  return true;
}

bool NoValue(std::string_view name, bool hasValue, bool& flag, std::string& error) {
  if (hasValue) {
    error = "fault " + std::string(name) + " takes no value";
    return false;
  }
  flag = true;
  return true;
}

}  // namespace

bool Faults::Any() const {
  return delayMs || trickleMs || endless || bigHeaders || cookieFlood || htmlCaptcha ||
         truncatedPicture || hugePicture || redirect || redirectHttps || closeMidBody ||
         closeAfter || stallAfter || controlLinks || silent || redirectLoop;
}

void Faults::Merge(const Faults& other) {
  if (other.delayMs) delayMs = other.delayMs;
  if (other.trickleMs) trickleMs = other.trickleMs;
  if (other.bigHeaders) bigHeaders = other.bigHeaders;
  if (other.cookieFlood) cookieFlood = other.cookieFlood;
  if (other.redirect) redirect = other.redirect;
  if (other.controlLinks) controlLinks = other.controlLinks;
  if (other.closeAfter) closeAfter = other.closeAfter;
  if (other.stallAfter) stallAfter = other.stallAfter;
  endless = endless || other.endless;
  htmlCaptcha = htmlCaptcha || other.htmlCaptcha;
  truncatedPicture = truncatedPicture || other.truncatedPicture;
  hugePicture = hugePicture || other.hugePicture;
  redirectHttps = redirectHttps || other.redirectHttps;
  closeMidBody = closeMidBody || other.closeMidBody;
  silent = silent || other.silent;
  redirectLoop = redirectLoop || other.redirectLoop;
}

bool ParseFaults(std::string_view list, Faults& faults, std::string& error) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string_view::npos) end = list.size();
    const std::string_view item = list.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    const size_t colon = item.find(':');
    const std::string_view name = item.substr(0, colon);
    const bool hasValue = colon != std::string_view::npos;
    const std::string_view value = hasValue ? item.substr(colon + 1) : std::string_view();
    bool ok = true;
    if (name == "delay") {
      ok = ParseCount(name, value, kDefaultDelayMs, 600000, faults.delayMs, error);
    } else if (name == "trickle") {
      ok = ParseCount(name, value, kDefaultTrickleMs, 60000, faults.trickleMs, error);
    } else if (name == "big-headers") {
      ok = ParseCount(name, value, kDefaultBigHeaders, 10000, faults.bigHeaders, error);
    } else if (name == "cookie-flood") {
      ok = ParseCount(name, value, kDefaultCookieFlood, 10000, faults.cookieFlood, error);
    } else if (name == "endless") {
      ok = NoValue(name, hasValue, faults.endless, error);
    } else if (name == "html-captcha") {
      ok = NoValue(name, hasValue, faults.htmlCaptcha, error);
    } else if (name == "truncated-picture") {
      ok = NoValue(name, hasValue, faults.truncatedPicture, error);
    } else if (name == "huge-picture") {
      ok = NoValue(name, hasValue, faults.hugePicture, error);
    } else if (name == "redirect-https") {
      ok = NoValue(name, hasValue, faults.redirectHttps, error);
    } else if (name == "close-mid-body") {
      ok = NoValue(name, hasValue, faults.closeMidBody, error);
    } else if (name == "close-after") {
      ok = ParseCount(name, value, kDefaultCloseAfter, 1 << 30, faults.closeAfter, error);
    } else if (name == "stall-after") {
      ok = ParseCount(name, value, kDefaultStallAfter, 1 << 30, faults.stallAfter, error);
    } else if (name == "control-links") {
      if (value != "" && value != "normal" && value != "thunder" && value != "flashget") {
        error = "fault control-links takes normal, thunder or flashget";
        ok = false;
      } else {
        faults.controlLinks = std::string(value);
      }
    } else if (name == "silent") {
      ok = NoValue(name, hasValue, faults.silent, error);
    } else if (name == "redirect-loop") {
      ok = NoValue(name, hasValue, faults.redirectLoop, error);
    } else if (name == "redirect") {
      if (hasValue && (value.empty() || value[0] != '/')) {
        error = "fault redirect takes a path starting with '/'";
        ok = false;
      } else {
        faults.redirect = std::string(value);
      }
    } else {
      error = "unknown fault '" + std::string(name) + "'";
      ok = false;
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace sorrel::sim
