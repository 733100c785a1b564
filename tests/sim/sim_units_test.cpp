// The demo service's parts on their own: text helpers, command line and
// fault parsing, picture encoders (checked by an independent decoder).
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <set>

#include "captcha.h"
#include "faults.h"
#include "options.h"
#include "picture.h"
#include "sim_test_util.h"
#include "text_util.h"

namespace sorrel::sim {
namespace {

TEST(SimBase64, Rfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, coded] : vectors) {
    EXPECT_EQ(Base64Encode(plain), coded);
    EXPECT_EQ(Base64Decode(coded), plain);
  }
  EXPECT_EQ(Base64Encode(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(SimForm, ParsesTheToolsBodyLeniently) {
  const struct {
    const char* body;
    NameValues expected;
  } cases[] = {
      {"=&file_id=123&hash_key=abc&authtype=0&hash_info=xyz&randcode=k7p2&Comfirm=yes",
       {{"file_id", "123"},
        {"hash_key", "abc"},
        {"authtype", "0"},
        {"hash_info", "xyz"},
        {"randcode", "k7p2"},
        {"Comfirm", "yes"}}},
      {"a=1&&=x&b", {{"a", "1"}, {"b", ""}}},
      {"n=%41%2&m=a+b%20c", {{"n", "A%2"}, {"m", "a b c"}}},
      {"k=v=w", {{"k", "v=w"}}},
      {"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseForm(c.body), c.expected) << c.body;
  }
}

TEST(SimJson, StringsStayValidJson) {
  const struct {
    std::string bytes;
    QString expected;
  } cases[] = {
      {"plain", "plain"},
      {"quote\" back\\ tab\t nl\n", "quote\" back\\ tab\t nl\n"},
      {"中文", QString::fromUtf8("中文")},
      {std::string("\xd6\xd0\x01", 3), QString::fromUtf8("\u00d6\u00d0\u0001")},
      {"\xe4\xb8", QString::fromUtf8("\u00e4\u00b8")},  // a cut UTF-8 sequence
  };
  for (const auto& c : cases) {
    const std::string json = "[" + JsonString(c.bytes) + "]";
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
    EXPECT_EQ(doc.array().at(0).toString(), c.expected) << json;
  }
}

TEST(SimFaultList, Parses) {
  Faults f;
  std::string error;
  ASSERT_TRUE(
      ParseFaults("delay,trickle:5,big-headers:3,endless,redirect:/x,cookie-flood", f, error));
  EXPECT_EQ(f.delayMs, kDefaultDelayMs);
  EXPECT_EQ(f.trickleMs, 5);
  EXPECT_EQ(f.bigHeaders, 3);
  EXPECT_EQ(f.cookieFlood, 1000);
  EXPECT_TRUE(f.endless);
  EXPECT_EQ(f.redirect, "/x");
  EXPECT_FALSE(f.closeMidBody);
  EXPECT_FALSE(f.controlLinks);
  ASSERT_TRUE(ParseFaults("control-links:thunder", f, error));
  EXPECT_EQ(f.controlLinks, "thunder");

  for (const char* bad : {"nope", "endless:1", "delay:-1", "delay:9999999", "redirect:x",
                          "control-links:page", "close-after:x", "stall-after:-1"}) {
    Faults g;
    EXPECT_FALSE(ParseFaults(bad, g, error)) << bad;
  }
}

TEST(SimOptions, ParsesValuesInBothSpellings) {
  Options o;
  std::string error;
  ASSERT_TRUE(
      ParseOptions({"--port=0", "--picture", "bmp", "--file", "9=/a/b.txt", "--token-seconds", "5",
                    "--extra-fields=4", "--test-mode", "--fixed-code", "AB12", "--fault",
                    "delay:10@/file/1", "--fault", "endless"},
                   o, error))
      << error;
  EXPECT_EQ(o.port, 0);
  EXPECT_EQ(o.picture, PictureFormat::kBmp);
  EXPECT_EQ(o.files, (std::vector<std::pair<std::string, std::string>>{{"9", "/a/b.txt"}}));
  EXPECT_EQ(o.tokenSeconds, 5);
  EXPECT_EQ(o.extraFields, 4);
  EXPECT_EQ(o.fixedCode, "AB12");
  ASSERT_EQ(o.faults.size(), 2u);
  EXPECT_EQ(o.faults[0].path, "/file/1");
  EXPECT_EQ(o.faults[0].faults.delayMs, 10);
  EXPECT_EQ(o.faults[1].path, "");
  EXPECT_TRUE(o.faults[1].faults.endless);

  Options defaults;
  ASSERT_TRUE(ParseOptions({}, defaults, error));
  EXPECT_EQ(defaults.port, kDefaultPort);
  EXPECT_EQ(defaults.picture, PictureFormat::kPng);
  EXPECT_FALSE(defaults.testMode);
}

TEST(SimCaptcha, FontHasDistinctGlyphsAndCodesUseTheAlphabet) {
  std::set<std::string> glyphs;
  const std::string all = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  for (char c : all) {
    const unsigned char* rows = GlyphRows(c);
    ASSERT_NE(rows, nullptr) << c;
    glyphs.insert(std::string(reinterpret_cast<const char*>(rows), 7));
  }
  // C/c, O/o, S/s, V/v, W/w, X/x, Z/z share a shape only when the table is wrong.
  EXPECT_EQ(glyphs.size(), all.size());
  EXPECT_EQ(GlyphRows('-'), nullptr);

  std::mt19937_64 rng(7);
  for (int i = 0; i < 50; ++i) {
    const std::string code = NewCaptchaCode(rng);
    ASSERT_EQ(code.size(), 4u);
    for (char c : code) EXPECT_NE(kCaptchaAlphabet.find(c), std::string_view::npos);
  }
}

class SimPictures : public ::testing::TestWithParam<PictureFormat> {};

TEST_P(SimPictures, DecodeToTheDrawnPixels) {
  std::mt19937_64 rng(42);
  const Raster raster = DrawCaptcha("k7p2", rng);
  const std::string bytes = EncodePicture(raster, GetParam());
  const QImage image = test::DecodePicture(bytes).convertToFormat(QImage::Format_RGB32);
  ASSERT_FALSE(image.isNull());
  ASSERT_EQ(image.size(), QSize(raster.width, raster.height));
  // JPEG is lossy; the others must give back every pixel.
  const int tolerance = GetParam() == PictureFormat::kJpeg ? 80 : 0;
  int off = 0;
  for (int y = 0; y < raster.height; ++y) {
    for (int x = 0; x < raster.width; ++x) {
      const Rgb want = raster.palette[raster.At(x, y)];
      const QRgb got = image.pixel(x, y);
      const int diff = std::abs(qRed(got) - want.r) + std::abs(qGreen(got) - want.g) +
                       std::abs(qBlue(got) - want.b);
      if (diff > tolerance) ++off;
    }
  }
  // A few JPEG pixels at sharp edges stray further.
  EXPECT_LE(off, GetParam() == PictureFormat::kJpeg ? raster.width * raster.height / 20 : 0);
}

TEST_P(SimPictures, ClaimedSizeIsWhatTheHeaderSays) {
  std::mt19937_64 rng(1);
  const std::string bytes =
      ClaimPictureSize(EncodePicture(DrawCaptcha("ab", rng), GetParam()), GetParam(), 50000, 40000);
  EXPECT_EQ(test::ClaimedSize(bytes), QSize(50000, 40000));
  EXPECT_TRUE(test::DecodePicture(bytes).isNull());
}

INSTANTIATE_TEST_SUITE_P(AllFormats, SimPictures,
                         ::testing::Values(PictureFormat::kPng, PictureFormat::kJpeg,
                                           PictureFormat::kGif, PictureFormat::kBmp),
                         [](const auto& info) { return PictureFormatName(info.param); });

}  // namespace
}  // namespace sorrel::sim
