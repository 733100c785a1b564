// The files the demo service offers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorrel::sim {

struct CatalogueFile {
  std::string id;       // decimal digits, as in /file/<id>
  std::string name;     // UTF-8
  std::string content;  // built-in files keep their bytes here...
  std::string path;     // ...files from the command line are read from here
  std::uint64_t size = 0;
  bool removed = false;  // listed, but its page says it has expired
};

// 83264445 (the address the tool shows as its example), a few more, and
// 40400404, a removed one.
std::vector<CatalogueFile> BuiltinCatalogue();

// A file from disk under `id`, named after the path's last component.
bool FileFromDisk(const std::string& id, const std::string& path, CatalogueFile& file,
                  std::string& error);

// Adds or replaces by id.
void PutFile(std::vector<CatalogueFile>& catalogue, CatalogueFile file);

}  // namespace sorrel::sim
