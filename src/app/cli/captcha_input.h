// Getting the captcha's code from a person or a program: the picture drawn
// in the terminal, or handed to a program as a file.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "support/raster_image.h"

namespace sorrel::cli {

// The picture as lines of text for a terminal `columns` wide. With colour:
// upper half blocks, each carrying two pixels in 24-bit colour, scaled so
// that the code is readable. Without: dark pixels as "#", light ones as
// blanks, for a terminal that shows no colour (TERM=dumb).
std::string DrawPicture(const RasterImage& picture, int columns, bool colour);

struct ProgramAnswer {
  std::optional<std::string> code;  // the first line of the output
  std::string error;                // UTF-8, when there is no code
};

// Runs `program` (found through PATH) with `picturePath` as its one
// argument and standard input closed; its first output line is the code.
// A program that gives no line within `limit` is stopped.
ProgramAnswer AskCaptchaProgram(const std::string& program, const std::string& picturePath,
                                std::chrono::milliseconds limit);

}  // namespace sorrel::cli
