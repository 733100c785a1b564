#include <QByteArray>

#include "resolve/base64_standard.h"

namespace sorrel {

std::string QtBase64::Encode(std::string_view bytes) const {
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64().toStdString();
}

std::optional<std::string> QtBase64::DecodeCheckedGroups(std::string_view padded,
                                                         size_t padding) const {
  const auto decoded = QByteArray::fromBase64Encoding(
      QByteArray(padded.data(), static_cast<qsizetype>(padded.size())),
      QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded) return std::nullopt;
  return decoded.decoded.toStdString();
}

}  // namespace sorrel
