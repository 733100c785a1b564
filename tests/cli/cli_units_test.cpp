// The parts of sorrel-resolve that need no service: the command line and
// the picture drawn in the terminal.
#include <gtest/gtest.h>

#include "app/cli/captcha_input.h"
#include "app/cli/options.h"

namespace sorrel::cli {
namespace {

TEST(CliOptionsTest, ValuesAndOperandsInEveryForm) {
  const ParsedCommandLine parsed =
      ParseCommandLine({"--tries=5", "a", "--origin", "http://h:1//", "-i", "list", "--json", "-q",
                        "--captcha-program=ask", "-i", "-", "--", "-b"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  const Options& o = parsed.options;
  EXPECT_EQ(o.command, Command::kResolve);
  EXPECT_EQ(o.tries, 5);
  EXPECT_EQ(o.origin, "http://h:1");
  EXPECT_EQ(o.inputFiles, (std::vector<std::string>{"list", "-"}));
  EXPECT_EQ(o.operands, (std::vector<std::string>{"a", "-b"}));
  EXPECT_TRUE(o.json && o.quiet);
  EXPECT_EQ(o.captchaProgram, "ask");
  EXPECT_EQ(ParseCommandLine({"decode", "--help"}).options.command, Command::kHelp);
  EXPECT_EQ(ParseCommandLine({"x", "decode"}).options.operands.size(), 2u);
  EXPECT_EQ(ParseCommandLine({"--json=1", "x"}).error, "选项 --json 不带值");
  EXPECT_EQ(ParseCommandLine({"--captcha-file", "f", "--captcha-program", "p", "x"}).error,
            "--captcha-program 和 --captcha-file 只能选一个");
}

TEST(CliOptionsTest, TheProxyIsTheEnvironmentsUnlessGivenOrSwitchedOff) {
  const char* bad =
      "--proxy 需要 http://[用户名[:密码]@]主机:端口 或 socks5h://主机:端口 形式的代理地址";
  const char* passwordAlone =
      "--proxy-password-file 需要与带用户名的 --proxy http://用户名@主机:端口 一起使用";
  struct Row {
    std::vector<std::string> args;
    std::string proxy;  // when the line is good
    std::string error;
  };
  const Row rows[] = {
      {{"x"}, "system", ""},
      {{"--no-proxy", "x"}, "", ""},
      {{"--proxy", "http://Ann:p%40ss@h:8080", "x"}, "http://Ann:p%40ss@h:8080", ""},
      {{"--proxy=socks5h://h:1080", "x"}, "socks5h://h:1080", ""},
      {{"--proxy", "h:8080", "x"}, "", bad},
      {{"--proxy", "socks4://h:1080", "x"}, "", bad},
      {{"--proxy", "http://h", "x"}, "", bad},
      {{"--proxy", "http://h:1", "--no-proxy", "x"}, "", "--proxy 和 --no-proxy 只能选一个"},
      {{"--no-proxy=1", "x"}, "", "选项 --no-proxy 不带值"},
      {{"--proxy-password-file", "f", "x"}, "", passwordAlone},
      {{"--proxy", "http://h:1", "--proxy-password-file", "f", "x"}, "", passwordAlone},
      {{"decode", "--no-proxy", "x"}, "", "选项 --no-proxy 只用于解析文件页面"},
  };
  for (const Row& row : rows) {
    const ParsedCommandLine parsed = ParseCommandLine(row.args);
    EXPECT_EQ(parsed.error, row.error) << row.args[0];
    if (row.error.empty()) {
      EXPECT_EQ(parsed.options.proxy, row.proxy) << row.args[0];
    }
  }
}

TEST(CliOptionsTest, OnlyPagesOfTheServiceAreResolved) {
  const std::string elsewhere =
      "地址不在服务 https://Sorrel.example 上：验证码和登录都在该服务上进行（另一个服务请用 "
      "--origin 指定）。";
  const struct {
    std::string address;
    std::string problem;
  } cases[] = {
      {"https://sorrel.example/file/1", ""},
      {"HTTPS://SORREL.EXAMPLE:443/file/1?x=1#y", ""},
      {"http://sorrel.example:80/file/1", ""},
      {"https://sorrel.example:443", ""},
      {"", "地址是空的。"},
      {"sorrel.example/file/1", "这不是以 http:// 或 https:// 开头的网址。"},
      {"ftp://sorrel.example/file/1", "这不是以 http:// 或 https:// 开头的网址。"},
      {"thunder://QUFodHRwOi8vZXhhbXBsZS5jb20vYS50eHRaWg==",
       "这是下载工具的链接，不是文件页地址：其中的地址请用 sorrel-resolve decode 取出。"},
      {"https:///file/1", "地址无效。"},
      {"https://sorrel.example/file/1 2", "地址无效。"},
      {"https://sorrel.example/file/1\x1b[2J", "地址无效。"},
      {"https://sorrel.example/\xe2\x80\xae", "地址无效。"},
      {"https://sorrel.example:8443/file/1", elsewhere},
      {"https://sorrel.example.evil/file/1", elsewhere},
      {"https://evil@sorrel.example/file/1", elsewhere},
      {"http://127.0.0.1/file/1", elsewhere},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AddressProblem(c.address, "https://Sorrel.example"), c.problem) << c.address;
  }
}

RasterImage Picture(int width, int height, std::initializer_list<std::uint8_t> rgb) {
  RasterImage picture{width, height, {}};
  const std::vector<std::uint8_t> colours(rgb);
  for (size_t i = 0; i < colours.size(); i += 3) {
    picture.rgba.insert(picture.rgba.end(), {colours[i], colours[i + 1], colours[i + 2], 255});
  }
  return picture;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(DrawPictureTest, HalfBlocksCarryTwoPixelsInTrueColour) {
  const RasterImage picture = Picture(2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255});
  EXPECT_EQ(DrawPicture(picture, 2, true),
            "\x1b[38;2;255;0;0m\x1b[48;2;0;0;255m▀\x1b[38;2;0;255;0m\x1b[48;2;255;255;255m▀"
            "\x1b[0m\n");
}

TEST(DrawPictureTest, SmallPicturesGrowAndWideOnesShrinkToTheTerminal) {
  RasterImage small{20, 10, {}};
  for (int i = 0; i < 20 * 10; ++i) small.rgba.insert(small.rgba.end(), {1, 2, 3, 255});
  const std::string grown = DrawPicture(small, 200, true);
  EXPECT_EQ(Count(grown, "▀"), 80u * 20u);  // 80 columns, 40 pixel rows
  const std::string fitted = DrawPicture(small, 10, true);
  EXPECT_EQ(Count(fitted, "▀"), 10u * 3u);
  EXPECT_EQ(Count(fitted, "\n"), 3u);
}

TEST(DrawPictureTest, PlainTextShowsDarkStrokesOverLightNoise) {
  // A dark vertical stroke in column 1 over light, uneven noise.
  const RasterImage picture =
      Picture(4, 2, {250, 250, 250, 10, 10, 10, 220, 220, 220, 240, 240, 240,
                     230, 230, 230, 20, 20, 20, 250, 250, 250, 200, 200, 200});
  EXPECT_EQ(DrawPicture(picture, 4, false), " #  \n");
}

}  // namespace
}  // namespace sorrel::cli
