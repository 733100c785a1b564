#include "catalogue.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace sorrel::sim {
namespace {

CatalogueFile Builtin(std::string id, std::string name, std::string content) {
  CatalogueFile f;
  f.id = std::move(id);
  f.name = std::move(name);
  f.size = content.size();
  f.content = std::move(content);
  return f;
}

std::string GuideText() {
  std::string text =
      "Sorrel网盘演示服务 示例文件\n"
      "============================\n\n"
      "这个文件由 sorrel-sim 提供，用来演示从文件页面到下载地址的完整过程。\n\n";
  for (int i = 1; i <= 60; ++i) {
    text += "第" + std::to_string(i) + "行：打开文件页面，输入上方图片中的验证码，获取下载地址。\n";
  }
  return text;
}

std::string SampleBytes(size_t n) {
  std::string out(n, '\0');
  std::uint32_t x = 2463534242u;  // xorshift32: the same bytes on every run
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x & 0xFF);
  }
  return out;
}

}  // namespace

std::vector<CatalogueFile> BuiltinCatalogue() {
  std::vector<CatalogueFile> files;
  files.push_back(Builtin("83264445", "Sorrel网盘使用说明.txt", GuideText()));
  files.push_back(Builtin("12345678", "readme.txt",
                          "sorrel-sim sample file.\r\nPlain ASCII, CR LF line ends.\r\n"));
  files.push_back(Builtin("51200003", "样本数据.bin", SampleBytes(256 * 1024)));
  CatalogueFile removed = Builtin("40400404", "已删除的文件.rar", "");
  removed.removed = true;
  files.push_back(removed);
  return files;
}

bool FileFromDisk(const std::string& id, const std::string& path, CatalogueFile& file,
                  std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "'" + path + "' is not a regular file";
    return false;
  }
  if (!std::ifstream(path, std::ios::binary)) {
    error = "cannot open '" + path + "'";
    return false;
  }
  file = CatalogueFile{};
  file.id = id;
  const size_t slash = path.find_last_of('/');
  file.name = slash == std::string::npos ? path : path.substr(slash + 1);
  file.path = path;
  file.size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

void PutFile(std::vector<CatalogueFile>& catalogue, CatalogueFile file) {
  for (CatalogueFile& f : catalogue) {
    if (f.id == file.id) {
      f = std::move(file);
      return;
    }
  }
  catalogue.push_back(std::move(file));
}

}  // namespace sorrel::sim
