// Stands in for the tool in the engine tests: starts a private engine with
// the given data and download folders, prints its process id and address,
// and lives until it is killed or its standard input closes.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "download/private_engine.h"
#include "http/http_stack_curl.h"
#include "http/worker_thread.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  sorrel::CurlHttpStack stack;
  sorrel::PrivateEngineOptions options;
  options.dataDir = argv[1];
  options.downloadDir = argv[2];
  std::string error;
  auto engine = sorrel::PrivateEngine::Start(stack, sorrel::PlatformThreads(), options, error);
  if (!engine) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("%ld %s\n", engine->ProcessId(), engine->Endpoint().address.c_str());
  std::fflush(stdout);
  char c;
  while (read(STDIN_FILENO, &c, 1) > 0) {
  }
  return 0;
}
