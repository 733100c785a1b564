// What text the window takes into its address box, and when the clipboard
// may offer it.
#include "app/address_intake.h"

#include <gtest/gtest.h>

#include "text/codepage.h"

namespace sorrel {
namespace {

constexpr const char* kOrigin = "http://127.0.0.1:8017";

// The workflow's own Base64, which both builds have.
const OwnBase64 kBase64;

TEST(AddressIntakeTest, KindOfAddress) {
  const struct {
    const char* text;
    AddressKind kind;
  } cases[] = {
      {"http://127.0.0.1:8017/file/83264445", AddressKind::kFilePage},
      {"  HTTPS://127.0.0.1:8017/FILE/83264445\r\n", AddressKind::kFilePage},
      {"http://127.0.0.1:8017/file/", AddressKind::kOther},
      {"http://127.0.0.1:80171/file/1", AddressKind::kOther},
      {"http://127.0.0.1:8017/other/1", AddressKind::kOther},
      {"http://127.0.0.1:8017/file/1 and more words", AddressKind::kOther},
      {"ftp://127.0.0.1:8017/file/1", AddressKind::kOther},
      {"127.0.0.1:8017/file/1", AddressKind::kOther},
      {"", AddressKind::kOther},
      {" Thunder://QUF", AddressKind::kWrappedLink},
      {"flashget://x", AddressKind::kWrappedLink},
      {"qqdl://", AddressKind::kWrappedLink},
  };
  for (const auto& c : cases) EXPECT_EQ(KindOfAddress(c.text, kOrigin), c.kind) << c.text;
}

TEST(AddressIntakeTest, OpenWrappedLinkWritesWhatAResolutionWrites) {
  const OpenedLink opened = OpenWrappedLink(kBase64, "qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA==");
  ASSERT_TRUE(opened.ok);
  EXPECT_EQ(GbkToUtf8(opened.resultText),
            "普通下载地址：\r\n\r\nhttp://dl.example/f/a.zip\r\n\r\n"
            "迅雷下载地址：\r\n\r\nthunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo=\r\n\r\n"
            "快车下载地址：\r\n\r\n"
            "flashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2YvYS56aXBbRkxBU0hHRVRd&sorrel");
  EXPECT_EQ(opened.normalLink, "http://dl.example/f/a.zip");

  const OpenedLink broken = OpenWrappedLink(kBase64, "thunder://QUFodHRw");
  EXPECT_FALSE(broken.ok);
  EXPECT_TRUE(broken.resultText.empty());
  EXPECT_EQ(GbkToUtf8(broken.notice), "无法识别的链接：解码后的内容不是迅雷链接的“AA…ZZ”包装。");
}

TEST(AddressIntakeTest, ClipboardOffersEachTextOnce) {
  const std::string page = std::string(kOrigin) + "/file/7";
  const std::string link = "thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo=";
  ClipboardOffer offer(kBase64);
  EXPECT_FALSE(offer.Take("", "", kOrigin));
  EXPECT_FALSE(offer.Take("just words", "", kOrigin));
  EXPECT_FALSE(offer.Take("thunder://QUF!!", "", kOrigin));
  EXPECT_FALSE(offer.Take(page, " " + page, kOrigin));  // already in the box
  EXPECT_TRUE(offer.Take(page + "\n", "", kOrigin));
  EXPECT_FALSE(offer.Take(page, "", kOrigin));  // never the same text twice
  EXPECT_TRUE(offer.Take(link, page, kOrigin));

  offer.NoteOwnCopy(std::string(kOrigin) + "/file/8");
  EXPECT_FALSE(offer.Take(std::string(kOrigin) + "/file/8", "", kOrigin));
  offer.NoteLeft(std::string(kOrigin) + "/file/9");
  EXPECT_FALSE(offer.Take(std::string(kOrigin) + "/file/9", "", kOrigin));
  EXPECT_TRUE(offer.Take(std::string(kOrigin) + "/file/10", "", kOrigin));
  EXPECT_FALSE(offer.Take(std::string(kOrigin) + "/file/" + std::string(5000, '1'), "", kOrigin));
}

}  // namespace
}  // namespace sorrel
