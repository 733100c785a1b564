// Captcha codes and their pictures: four characters drawn with a built-in
// 5x7 bitmap font, enlarged, slanted and jittered, over light noise.
#pragma once

#include <random>
#include <string>
#include <string_view>

#include "picture.h"

namespace sorrel::sim {

// Characters of generated codes; look-alikes (0/o, 1/l/i, 9/g/q, 2/z) are left out.
inline constexpr std::string_view kCaptchaAlphabet = "abcdefhjkmnprstuvwxy345678";
inline constexpr int kCaptchaLength = 4;

std::string NewCaptchaCode(std::mt19937_64& rng);

// True when every character of `code` has a glyph (ASCII letters and digits).
bool CanDrawCode(std::string_view code);

// Rows of the 5x7 glyph of `c` (bit 4 is the leftmost column), or nullptr.
const unsigned char* GlyphRows(char c);

Raster DrawCaptcha(std::string_view code, std::mt19937_64& rng);

}  // namespace sorrel::sim
