// The code-page conversions over arbitrary bytes in every code page used.
#include "fuzz_target.h"
#include "test_helpers/platform_engines.h"
#include "text/codepage.h"
#include "text/convert.h"

SORREL_FUZZ_TARGET(codepage) {
  if (size < 1) return 0;
  static constexpr unsigned kPages[] = {sorrel::kCodePageAnsi, sorrel::kCodePageGbk,
                                        sorrel::kCodePageBig5, sorrel::kCodePageUtf8};
  const unsigned page = kPages[data[0] & 3];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::u16string wide = sorrel::DecodeCodePage(bytes, page);
  SORREL_FUZZ_CHECK(wide.size() <= bytes.size());
  sorrel::EncodeCodePage(wide, page);
  // Arbitrary units, unpaired surrogates included.
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  sorrel::EncodeCodePage(units, page);
  sorrel::Utf16ToMultiByte(units, page);
  sorrel::MultiByteToUtf16(bytes, page);

  const sorrel::Text simplified = sorrel::MapToSimplifiedChinese(bytes);
  SORREL_FUZZ_CHECK(simplified.size() == bytes.substr(0, bytes.find('\0')).size() ||
                    simplified.size() == bytes.size());
  sorrel::Utf8ToGbk(bytes);
  sorrel::Big5ToSimplifiedGbk(bytes);
  sorrel::GbkToUtf8(sorrel::Utf8ToGbk(bytes));

  // The regular-expression object converts its subject for the engine on
  // its own; a match of the whole subject must read back as the converter's
  // round trip of it.
  static const auto regex = sorrel::test::PlatformRegexObject();
  const sorrel::Text subject(bytes);
  if (regex->Search("^[\\s\\S]+", subject, false, false, false) && regex->MatchCount() == 1) {
    const sorrel::Text roundTrip = sorrel::EncodeCodePage(
        sorrel::DecodeCodePage(subject, sorrel::kCodePageAnsi), sorrel::kCodePageAnsi);
    SORREL_FUZZ_CHECK(regex->MatchText(1) == roundTrip);
  } else if (!subject.empty()) {
    const int first = regex->MatchCount();
    const bool again = regex->Search("^[\\s\\S]+", subject, false, false, false);
    std::fprintf(stderr, "no whole match: count %d; again %d, count %d\n", first, again,
                 regex->MatchCount());
    SORREL_FUZZ_CHECK(subject.empty());
  }
  return 0;
}
