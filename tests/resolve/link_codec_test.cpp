#include "resolve/link_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorrel {
namespace {

// The engine this build of the test links.
const SORREL_BASE64_ENGINE kBase64;

constexpr const char* kAscii = "http://127.0.0.1:8017/dl/abc/readme.txt";
constexpr const char* kChinese = "http://h/样本.txt";

struct Good {
  std::string link;
  std::string address;
  LinkKind kind;
};

TEST(LinkCodecTest, DecodesTheThreeForms) {
  const std::vector<Good> cases = {
      {"thunder://QUFodHRwOi8vMTI3LjAuMC4xOjgwMTcvZGwvYWJjL3JlYWRtZS50eHRaWg==", kAscii,
       LinkKind::kThunder},
      {"flashget://"
       "W0ZMQVNIR0VUXWh0dHA6Ly8xMjcuMC4wLjE6ODAxNy9kbC9hYmMvcmVhZG1lLnR4dFtGTEFTSEdFVF0=",
       kAscii, LinkKind::kFlashGet},
      {"qqdl://aHR0cDovLzEyNy4wLjAuMTo4MDE3L2RsL2FiYy9yZWFkbWUudHh0", kAscii, LinkKind::kQqdl},
      // Scheme case, the site tag, missing padding, blanks and line breaks.
      {"THUNDER://QUFodHRwOi8vMTI3LjAuMC4xOjgwMTcvZGwvYWJjL3JlYWRtZS50eHRaWg", kAscii,
       LinkKind::kThunder},
      {"FlashGet://W0ZMQVNIR0VUXWh0dHA6Ly8xMjcuMC4wLjE6ODAxNy9kbC9hYmMvcmVhZG1lLnR4dFtGTEFTSEdFVF0"
       "&sorrel",
       kAscii, LinkKind::kFlashGet},
      {"  qqdl://aHR0cDovLzEyNy4w\r\nLjAuMTo4MDE3L2Rs L2FiYy9yZWFk\tbWUudHh0\n", kAscii,
       LinkKind::kQqdl},
      // UTF-8 payloads pass through; GBK ones come out as UTF-8.
      {"thunder://QUFodHRwOi8vaC/moLfmnKwudHh0Wlo=", kChinese, LinkKind::kThunder},
      {"thunder://QUFodHRwOi8vaC/R+bG+LnR4dFpa", kChinese, LinkKind::kThunder},
      {"qqdl://aHR0cDovL2gv0fmxvi50eHQ=", kChinese, LinkKind::kQqdl},
      {"flashget://W0ZMQVNIR0VUXWh0dHA6Ly9oL9H5sb4udHh0W0ZMQVNIR0VUXQ==&abc", kChinese,
       LinkKind::kFlashGet},
  };
  for (const Good& c : cases) {
    SCOPED_TRACE(c.link);
    const DecodedLink decoded = DecodeWrappedLink(kBase64, c.link);
    EXPECT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.address, c.address);
    EXPECT_EQ(decoded.kind, c.kind);
    EXPECT_TRUE(IsWrappedLink(c.link));
  }
}

struct Bad {
  std::string link;
  std::string error;
};

TEST(LinkCodecTest, SaysWhatIsWrong) {
  const std::vector<Bad> cases = {
      {"http://127.0.0.1/file/1", "这不是 thunder://、flashget:// 或 qqdl:// 开头的链接。"},
      {"thunder:/QUFaWg==", "这不是 thunder://、flashget:// 或 qqdl:// 开头的链接。"},
      {"", "这不是 thunder://、flashget:// 或 qqdl:// 开头的链接。"},
      {"thunder://", "链接里没有编码的地址。"},
      {"flashget://&sorrel", "链接里没有编码的地址。"},
      {"thunder://QUFaW*==", "链接里的 Base64 编码有误。"},
      {"qqdl://YWI===", "链接里的 Base64 编码有误。"},
      {"qqdl://Y", "链接里的 Base64 编码有误。"},
      {"qqdl://YQ=x", "链接里的 Base64 编码有误。"},
      {"qqdl://YW=I", "链接里的 Base64 编码有误。"},
      {"thunder://QkJ4Wlo=", "解码后的内容不是迅雷链接的“AA…ZZ”包装。"},
      {"thunder://YWI=", "解码后的内容不是迅雷链接的“AA…ZZ”包装。"},
      {"flashget://W0ZMQVNIR0VUXXg=", "解码后的内容不是快车链接的“[FLASHGET]…[FLASHGET]”包装。"},
      {"thunder://QUFaWg==", "链接解码后的地址是空的。"},
      {"thunder://QUFhCmJaWg==", "链接解码后的地址含有控制字符。"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.link);
    const DecodedLink decoded = DecodeWrappedLink(kBase64, c.link);
    EXPECT_FALSE(decoded.ok);
    EXPECT_EQ(decoded.error, c.error);
    EXPECT_TRUE(decoded.address.empty());
  }
  EXPECT_FALSE(IsWrappedLink("http://thunder://x"));
}

TEST(LinkCodecTest, EncodesTheThreeFormsAndDecodesThemBack) {
  EXPECT_EQ(EncodeThunder(kBase64, kAscii),
            "thunder://QUFodHRwOi8vMTI3LjAuMC4xOjgwMTcvZGwvYWJjL3JlYWRtZS50eHRaWg==");
  EXPECT_EQ(
      EncodeFlashGet(kBase64, kAscii),
      "flashget://"
      "W0ZMQVNIR0VUXWh0dHA6Ly8xMjcuMC4wLjE6ODAxNy9kbC9hYmMvcmVhZG1lLnR4dFtGTEFTSEdFVF0=&sorrel");
  EXPECT_EQ(EncodeQqdl(kBase64, kAscii),
            "qqdl://aHR0cDovLzEyNy4wLjAuMTo4MDE3L2RsL2FiYy9yZWFkbWUudHh0");
  for (const std::string address : {kAscii, kChinese, "a", "ab", "abc"}) {
    for (const std::string& link :
         {EncodeThunder(kBase64, address), EncodeFlashGet(kBase64, address),
          EncodeQqdl(kBase64, address)}) {
      SCOPED_TRACE(link);
      EXPECT_EQ(DecodeWrappedLink(kBase64, link).address, address);
    }
  }
}

}  // namespace
}  // namespace sorrel
