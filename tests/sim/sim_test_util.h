// What the sim's tests do the way the tool does it: cut text between
// markers, harvest the page's input fields with the tool's pattern, and
// send the login body the tool sends.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QSize>

#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace sorrel::test {

inline const char kCaptchaMarker[] = "<img id='vfcode' src='";
inline const char kNormalLeft[] = "<a class=\"local\" href=\"";
inline const char kNormalRight[] =
    "\" id=\"local_free\" onclick=\"logClickST();\">普通不限速下载</a>";
inline const char kThunderLeft[] = "thunderHref=\"";
inline const char kThunderRight[] = "\">迅雷不限速下载";
inline const char kFlashGetLeft[] = "fg=\"";
inline const char kFlashGetRight[] = "\">快车不限速下载";
inline const char kPageMarker[] = "输入上方";
inline const char kRemovedMarker[] = "这个文件已到期或被删除";
inline const char kWrongCaptchaMarker[] = "验证码输入错误";

inline std::string Between(const std::string& text, const std::string& left,
                           const std::string& right) {
  const size_t l = text.find(left);
  if (l == std::string::npos) return {};
  const size_t start = l + left.size();
  const size_t r = text.find(right, start);
  return r == std::string::npos ? std::string() : text.substr(start, r - start);
}

// Every match of the tool's input-field pattern: case ignored, "." not
// crossing line ends, every match.
inline std::vector<std::pair<std::string, std::string>> HarvestFields(const std::string& page) {
  static const std::regex pattern("<input.*name=\"(.+?)\".?value=\"(\\s*|.+?)\"",
                                  std::regex::ECMAScript | std::regex::icase);
  std::vector<std::pair<std::string, std::string>> fields;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    fields.emplace_back((*it)[1].str(), (*it)[2].str());
  }
  return fields;
}

// The sim page's value of field `name`, as the page writes it.
inline std::string FieldValue(const std::string& page, const std::string& name) {
  return Between(page, "name=\"" + name + "\" value=\"", "\"");
}

// The bytes the tool sends for a sim file page: the blanked fields before
// file_id leave one "=&", the others none. Only the per-run keys and the
// code vary.
inline std::string ToolLoginBody(const std::string& page, const std::string& captcha) {
  return "=&file_id=" + FieldValue(page, "file_id") + "&hash_key=" + FieldValue(page, "hash_key") +
         "&authtype=0&hash_info=" + FieldValue(page, "hash_info") + "&randcode=" + captcha +
         "&Comfirm=yes";
}

// The size a picture file's header claims. Qt refuses BMP headers above
// 16384 x 16384 before it reports a size, so BMP's fields are read here.
inline QSize ClaimedSize(const std::string& bytes) {
  if (bytes.rfind("BM", 0) == 0 && bytes.size() >= 26) {
    auto le32 = [&](size_t at) {
      return static_cast<int>(static_cast<unsigned char>(bytes[at]) |
                              static_cast<unsigned char>(bytes[at + 1]) << 8 |
                              static_cast<unsigned char>(bytes[at + 2]) << 16 |
                              static_cast<unsigned char>(bytes[at + 3]) << 24);
    };
    return QSize(le32(18), le32(22));
  }
  QByteArray data = QByteArray::fromStdString(bytes);
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  return QImageReader(&buffer).size();
}

inline QImage DecodePicture(const std::string& bytes) {
  return QImage::fromData(
      QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

}  // namespace sorrel::test
