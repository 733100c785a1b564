// The program's standard streams and the console a person answers on. Text
// is UTF-8 inside the program; each system's variant turns it into what its
// console shows (UTF-16 on Windows, so that Chinese shows on any code page)
// and leaves redirected streams as UTF-8 bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorrel::cli {

enum class Stream { kOut, kError };

// The whole text, or false when the stream takes no more.
bool Write(Stream stream, std::string_view text);
// A console or terminal shows the stream (progress lines are drawn there).
bool IsTerminal(Stream stream);

// One line of standard input, without its line end; nothing at the end of
// input.
std::optional<std::string> ReadInputLine();

// Where a person reads the picture and types the code: standard input when
// a console shows it (and no address list comes that way), else the
// console behind standard error.
class Console {
 public:
  // Opens nothing when neither way reaches a person.
  static Console Find(bool stdinTaken);
  Console(Console&& other) noexcept;
  Console& operator=(Console&&) = delete;
  ~Console();

  bool present() const { return present_; }
  // The picture can be drawn in text; else it is shown as a file.
  bool drawsPictures() const { return drawsPictures_; }
  // Colour escape sequences are shown as colours.
  bool colour() const { return colour_; }
  int columns() const { return columns_; }

  bool Write(std::string_view text) const;
  // One typed line, without its line end; nothing when input ended.
  std::optional<std::string> ReadLine() const;

 private:
  Console() = default;

  bool present_ = false;
  bool drawsPictures_ = false;
  bool colour_ = false;
  int columns_ = 80;
  // The system's handles: file descriptors or console handles.
  long long in_ = -1;
  long long out_ = -1;
  bool ownsIn_ = false;
  bool ownsOut_ = false;
};

// A folder for this run only, readable by the user alone, in the place the
// system clears; empty when none could be made.
std::string MakePrivateFolder();

// `name` in `folder`, joined with the system's separator.
std::string FileIn(const std::string& folder, std::string_view name);

// The command's arguments, UTF-8, without the program's name.
std::vector<std::string> Arguments(int argc, char** argv);

}  // namespace sorrel::cli
