#include <QByteArray>

#include "resolve/base64_standard.h"

namespace sorrel {

std::string EncodeStandardBase64(std::string_view bytes) {
  return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64().toStdString();
}

namespace detail {

std::optional<std::string> DecodeCheckedGroups(std::string_view padded, size_t padding) {
  const auto decoded = QByteArray::fromBase64Encoding(
      QByteArray(padded.data(), static_cast<qsizetype>(padded.size())),
      QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded) return std::nullopt;
  return decoded.decoded.toStdString();
}

}  // namespace detail

}  // namespace sorrel
