// A served file name is made one that stays one plain file on Linux and on
// Windows and reads as what it is.
#include <gtest/gtest.h>

#include <string>

#include "download/file_name.h"

namespace sorrel {
namespace {

TEST(SafeFileName, DropsWhatHidesOrRedirectsAName) {
  const struct {
    std::string served;
    std::string saved;
  } cases[] = {
      {"a\x1b]0;title\x07z.txt", "a]0;titlez.txt"},
      {"a\xc2\x85z\xc2\x9b.txt", "az.txt"},              // C1: NEL, CSI
      {"invoice\xe2\x80\xaetxt.exe", "invoicetxt.exe"},  // U+202E
      {"\xe2\x80\xaa"
       "a\xe2\x80\xac"
       "b\xe2\x81\xa6"
       "c\xe2\x81\xa9.bin",
       "abc.bin"},
      {"zero\xe2\x80\x8bwidth.txt", "zero\xe2\x80\x8bwidth.txt"},  // U+200B is no control
      {"\xc2\xa0nbsp.txt", "\xc2\xa0nbsp.txt"},                    // U+00A0 is no C1
      {"CON", "_CON"},
      {"con.txt", "_con.txt"},
      {"Com1.tar.gz", "_Com1.tar.gz"},
      {"lpt9", "_lpt9"},
      {"AUX", "_AUX"},
      {"nul .txt", "_nul .txt"},
      {"prn.", "_prn"},
      {"COM0.txt", "COM0.txt"},
      {"CONSOLE.txt", "CONSOLE.txt"},
      {"LPT10", "LPT10"},
      {"name. . ", "name"},
      {"..", "download"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.served), c.saved) << c.served;
}

TEST(SafeFileName, CutsALongNameAtACharacterAndKeepsItsExtension) {
  std::string han;
  for (int i = 0; i < 100; ++i) han += "\xe4\xb8\xad";  // 中, three bytes
  const struct {
    std::string served;
    std::string saved;
  } cases[] = {
      {std::string(300, 'a') + ".txt", std::string(251, 'a') + ".txt"},
      {han + ".zip", han.substr(0, 83 * 3) + ".zip"},
      {std::string(300, 'a'), std::string(255, 'a')},
      {"a." + std::string(300, 'b'), "a." + std::string(253, 'b')},
      {std::string(251, 'a') + ".zip", std::string(251, 'a') + ".zip"},
      {std::string(300, 'a') + ".a-very-long-tail-that-is-no-extension", std::string(255, 'a')},
  };
  for (const auto& c : cases) {
    const std::string saved = SafeFileName(c.served);
    EXPECT_EQ(saved, c.saved) << c.served;
    EXPECT_LE(saved.size(), 255u);
  }
  EXPECT_EQ(FileNameFromAddress("http://h/dl/%E2%80%AEfdp.exe"), "fdp.exe");
  EXPECT_EQ(FileNameFromAddress("http://h/dl/aux.rar?x=1"), "_aux.rar");
}

}  // namespace
}  // namespace sorrel
