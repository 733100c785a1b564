// The few questions the command asks of the local file system, each
// system's own beside this header; failures as errno values, for
// std::strerror.
#pragma once

#include <filesystem>
#include <string>

namespace sorrel::cli {

// A path the program holds as UTF-8, as the system's file functions take
// it, and back.
std::filesystem::path LocalPath(const std::string& utf8);
std::string Utf8Path(const std::filesystem::path& path);

// Why files cannot be made in `dir`: it, or the nearest folder above it
// that exists (the engine makes the rest), is no folder or not writable.
// 0 when nothing stands in the way.
int FolderProblem(std::string dir);

// The start of the file at `path` (UTF-8), read up to its first "\n" or
// about `limit` bytes; false with the error when it cannot be read.
bool ReadStart(const std::string& path, std::size_t limit, std::string& text, int& error);

}  // namespace sorrel::cli
