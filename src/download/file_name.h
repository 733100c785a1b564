// The name a downloaded file is saved under, in UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace sorrel {

// The last path segment of `address` (query and fragment cut off),
// percent-decoded, made safe by SafeFileName.
std::string FileNameFromAddress(std::string_view address);

// A name that stays one file in the download folder and reads as what it
// is: no path separators or characters Windows refuses, no control (C0, DEL,
// C1) or bidirectional formatting characters, no leading dots or blanks, no
// trailing dot or blank, no device name of Windows ("_" goes before one), at
// most 255 bytes (cut at a character, keeping the extension); bytes that are
// not UTF-8 are read as GBK. "download" when nothing is left.
std::string SafeFileName(std::string_view name);

// The file name a Content-Disposition value carries: "filename*"
// (RFC 8187, UTF-8 or GBK) before "filename"; empty when neither is there.
// The result is not made safe yet.
std::string DispositionFileName(std::string_view value);

// "%HH" to its byte; malformed escapes stay as they are.
std::string PercentDecode(std::string_view text);

}  // namespace sorrel
