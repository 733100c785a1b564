// Code-page conversions over ICU. The "windows-*-2000" tables are the ones
// Windows itself uses (0x80 is the euro sign in 936, the user-defined area
// maps to the private use area), and the callbacks below reproduce what
// Windows does with flags 0: every malformed sequence becomes one U+FFFD,
// every UTF-16 unit the target code page lacks becomes one "?".
#include <dlfcn.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utrans.h>
#include <unicode/uvernum.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>

#include "text/codepage.h"

namespace sorrel {

namespace {

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

bool IsUtf8(unsigned codePage) { return codePage == kCodePageUtf8; }

std::string ConverterName(unsigned codePage) {
  switch (codePage) {
    case kCodePageAnsi:
    case kCodePageGbk:
      return "windows-936-2000";
    case kCodePageBig5:
      return "windows-950-2000";
    case kCodePageUtf8:
      return "UTF-8";
    default:
      return "windows-" + std::to_string(codePage);
  }
}

void ToUnicodeReplacement(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                          UConverterCallbackReason reason, UErrorCode* error) {
  if (reason > UCNV_IRREGULAR) return;
  static const UChar kReplacement = 0xFFFD;
  *error = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, error);
}

// One "?" per character: a valid surrogate pair is one character, a lone
// surrogate one more.
void FromUnicodeQuestionMarks(const void*, UConverterFromUnicodeArgs* args, const UChar* units,
                              int32_t length, UChar32, UConverterCallbackReason reason,
                              UErrorCode* error) {
  if (reason > UCNV_IRREGULAR) return;
  *error = U_ZERO_ERROR;
  int32_t characters = 0;
  for (int32_t at = 0; at < length; ++characters) U16_FWD_1(units, at, length);
  const std::string marks(static_cast<size_t>(characters), '?');
  ucnv_cbFromUWriteBytes(args, marks.data(), characters, 0, error);
}

// Converters keep state between calls and must not be shared by threads, so
// each thread keeps its own, reset before every use.
UConverter* ConverterFor(unsigned codePage) {
  thread_local std::map<unsigned, ConverterPtr> converters;
  const unsigned key = codePage == kCodePageAnsi ? kCodePageGbk : codePage;
  auto found = converters.find(key);
  if (found == converters.end()) {
    UErrorCode error = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(ConverterName(key).c_str(), &error));
    if (U_FAILURE(error)) converter.reset();
    if (converter) {
      ucnv_setToUCallBack(converter.get(), ToUnicodeReplacement, nullptr, nullptr, nullptr, &error);
      // UTF-8 keeps ICU's own substitute, the encoded U+FFFD, as Windows does.
      if (!IsUtf8(key)) {
        ucnv_setFromUCallBack(converter.get(), FromUnicodeQuestionMarks, nullptr, nullptr, nullptr,
                              &error);
        // The Windows tables' best fits (U+00A2 to A1 E9) are ICU's fallbacks.
        ucnv_setFallback(converter.get(), true);
      }
      if (U_FAILURE(error)) converter.reset();
    }
    found = converters.emplace(key, std::move(converter)).first;
  }
  if (found->second) ucnv_reset(found->second.get());
  return found->second.get();
}

// Strict GBK encoding of one character: empty when 936 lacks it.
std::string EncodeGbkStrict(const icu::UnicodeString& text) {
  UErrorCode error = U_ZERO_ERROR;
  ConverterPtr converter(ucnv_open("windows-936-2000", &error));
  if (U_FAILURE(error)) return {};
  ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &error);
  std::string out(static_cast<size_t>(text.length()) * 2 + 2, '\0');
  const int32_t written =
      ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()),
                      text.getBuffer(), text.length(), &error);
  if (U_FAILURE(error)) return {};
  out.resize(static_cast<size_t>(written));
  return out;
}

// ICU's transforms live in libicui18n, which only Big5 pages need: it is
// loaded at their first conversion, so that a program that never meets one
// starts without it. ICU's C functions carry its version in their names.
#define SORREL_ICU_NAME(name) SORREL_ICU_STRING(name)
#define SORREL_ICU_STRING(name) #name

struct Transforms {
  decltype(&utrans_openU) open;
  decltype(&utrans_clone) clone;
  decltype(&utrans_transUChars) transliterate;
  decltype(&utrans_close) close;
};

// Null when the library or one of its functions is missing.
const Transforms* LoadedTransforms() {
  static const Transforms* loaded = []() -> const Transforms* {
    void* library = dlopen("libicui18n.so." U_ICU_VERSION_SHORT, RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    auto find = [library](const char* name, auto& function) {
      function =
          reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
      return function != nullptr;
    };
    static Transforms transforms;
    const bool found = find(SORREL_ICU_NAME(utrans_openU), transforms.open) &&
                       find(SORREL_ICU_NAME(utrans_clone), transforms.clone) &&
                       find(SORREL_ICU_NAME(utrans_transUChars), transforms.transliterate) &&
                       find(SORREL_ICU_NAME(utrans_close), transforms.close);
    return found ? &transforms : nullptr;
  }();
  return loaded;
}

struct TransformCloser {
  void operator()(UTransliterator* transform) const { LoadedTransforms()->close(transform); }
};
using TransformPtr = std::unique_ptr<UTransliterator, TransformCloser>;

std::mutex simplifierMutex;

// A private copy of the traditional-to-simplified transliterator; null when
// ICU or its data lacks it.
TransformPtr CloneSimplifier() {
  const Transforms* transforms = LoadedTransforms();
  if (transforms == nullptr) return nullptr;
  // Kept until the process ends; each use works on a copy.
  static UTransliterator* const simplifier = [transforms] {
    const std::u16string id = u"Traditional-Simplified";
    UErrorCode error = U_ZERO_ERROR;
    TransformPtr created(transforms->open(reinterpret_cast<const UChar*>(id.data()),
                                          static_cast<int32_t>(id.size()), UTRANS_FORWARD, nullptr,
                                          0, nullptr, &error));
    return U_SUCCESS(error) ? created.release() : nullptr;
  }();
  if (simplifier == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(simplifierMutex);
  UErrorCode error = U_ZERO_ERROR;
  TransformPtr copy(transforms->clone(simplifier, &error));
  if (U_FAILURE(error)) copy.reset();
  return copy;
}

// The simplified form of one UTF-16 unit; empty when the transform fails.
icu::UnicodeString Simplified(UTransliterator* simplifier, char16_t unit) {
  UChar text[16] = {static_cast<UChar>(unit)};
  int32_t length = 1;
  int32_t limit = 1;
  UErrorCode error = U_ZERO_ERROR;
  LoadedTransforms()->transliterate(simplifier, text, &length, 16, 0, &limit, &error);
  if (U_FAILURE(error)) return {};
  return icu::UnicodeString(text, length);
}

}  // namespace

std::u16string DecodeCodePage(std::string_view bytes, unsigned codePage) {
  UConverter* converter = ConverterFor(codePage);
  if (converter == nullptr || bytes.empty()) return {};
  std::u16string out(bytes.size() + 1, u'\0');
  UErrorCode error = U_ZERO_ERROR;
  int32_t written = ucnv_toUChars(converter, reinterpret_cast<UChar*>(out.data()),
                                  static_cast<int32_t>(out.size()), bytes.data(),
                                  static_cast<int32_t>(bytes.size()), &error);
  if (error == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<size_t>(written) + 1, u'\0');
    error = U_ZERO_ERROR;
    ucnv_reset(converter);
    written = ucnv_toUChars(converter, reinterpret_cast<UChar*>(out.data()),
                            static_cast<int32_t>(out.size()), bytes.data(),
                            static_cast<int32_t>(bytes.size()), &error);
  }
  if (U_FAILURE(error)) return {};
  out.resize(static_cast<size_t>(written));
  return out;
}

std::string EncodeCodePage(std::u16string_view text, unsigned codePage) {
  UConverter* converter = ConverterFor(codePage);
  if (converter == nullptr || text.empty()) return {};
  std::string out(text.size() * static_cast<size_t>(ucnv_getMaxCharSize(converter)) + 1, '\0');
  UErrorCode error = U_ZERO_ERROR;
  const int32_t written = ucnv_fromUChars(converter, out.data(), static_cast<int32_t>(out.size()),
                                          reinterpret_cast<const UChar*>(text.data()),
                                          static_cast<int32_t>(text.size()), &error);
  if (U_FAILURE(error)) return {};
  out.resize(static_cast<size_t>(written));
  return out;
}

// Character by character, like the platform's own table lookup: a
// simplified form whose GBK bytes are not the same length as the original's
// (or that GBK lacks) leaves the original character in place.
Text MapToSimplifiedChinese(std::string_view gbk) {
  Text out(gbk);
  const TransformPtr simplifier = CloneSimplifier();
  if (!simplifier) return out;
  std::unordered_map<std::string, std::string> mapped;
  for (size_t at = 0; at + 1 < out.size();) {
    const auto lead = static_cast<unsigned char>(out[at]);
    // 0x80 (the euro sign) and 0xFF are single-byte characters of 936.
    if (lead < 0x81 || lead > 0xFE) {
      ++at;
      continue;
    }
    const std::string original = out.substr(at, 2);
    auto known = mapped.find(original);
    if (known == mapped.end()) {
      std::string replacement = original;
      const std::u16string wide = DecodeCodePage(original, kCodePageGbk);
      if (wide.size() == 1 && wide[0] != u'\uFFFD') {
        const icu::UnicodeString character = Simplified(simplifier.get(), wide[0]);
        const std::string encoded = EncodeGbkStrict(character);
        if (encoded.size() == original.size()) replacement = encoded;
      }
      known = mapped.emplace(original, replacement).first;
    }
    out.replace(at, 2, known->second);
    at += 2;
  }
  return out;
}

}  // namespace sorrel
