// sorrel-sim: the demo Sorrel service on 127.0.0.1.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "catalogue.h"
#include "http_server.h"
#include "options.h"
#include "service.h"

namespace {

int BadCommandLine(const std::string& error) {
  std::fprintf(stderr, "sorrel-sim: %s\nTry 'sorrel-sim --help' for more information.\n",
               error.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sorrel::sim;
  Options options;
  std::string error;
  if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    return BadCommandLine(error);
  }
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }

  std::vector<CatalogueFile> catalogue = BuiltinCatalogue();
  for (const auto& [id, path] : options.files) {
    CatalogueFile file;
    if (!FileFromDisk(id, path, file, error)) return BadCommandLine(error);
    PutFile(catalogue, std::move(file));
  }

  // Signals are taken by sigwait below; every thread started from here on
  // inherits the blocked set.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Service service(options, catalogue);
  if (!options.requestLog.empty() && !service.OpenRequestLog(options.requestLog, error)) {
    return BadCommandLine(error);
  }
  HttpServer server([&service](const Request& request) { return service.Handle(request); });
  if (!server.Listen(options.port, error)) {
    std::fprintf(stderr, "sorrel-sim: %s\n", error.c_str());
    return 1;
  }
  const std::string baseUrl = "http://127.0.0.1:" + std::to_string(server.Port());
  service.SetBaseUrl(baseUrl);
  server.Start();

  std::printf("%s\n", baseUrl.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "sorrel-sim: serving %zu files, for example %s/file/83264445%s\n",
               catalogue.size(), baseUrl.c_str(), options.testMode ? " (test mode)" : "");
  std::fprintf(stderr, "sorrel-sim: stop with Ctrl+C\n");

  int signalNumber = 0;
  while (sigwait(&stopSignals, &signalNumber) != 0) {
  }
  server.Stop();
  std::fprintf(stderr, "sorrel-sim: stopped\n");
  return 0;
}
