#include "app/download_settings.h"

#include <string_view>

#include "download/aria2_client.h"

namespace sorrel {

namespace {

std::string Trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  const size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return {};
  return std::string(text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1));
}

}  // namespace

DownloadSettings DownloadSettings::Kept() const {
  ProxySetting road = proxy;
  road.host = Trimmed(road.host);
  return {Trimmed(address), secret, Trimmed(folder), sendOpenedLinks, road};
}

std::string AddressWarning(std::string_view address) {
  return Aria2AddressInClear(Trimmed(address)) ? Aria2InClearWarning() : std::string();
}

}  // namespace sorrel
