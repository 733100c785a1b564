#include "app/qt/application.h"

#include "app/engines.h"

namespace sorrel {

namespace {

PlatformServices WithStack(HttpStack& stack, WindowSystem& windows) {
  const PlatformServices engines = PlatformEngines(windows);
  return {stack, engines.threads, engines.regexEngines, engines.pictures, windows};
}

}  // namespace

Application::Application(PlatformServices services, const Text& serviceOrigin)
    : window_(serviceOrigin), program_(std::move(services), window_, serviceOrigin) {
  window_.Bind(program_);
}

Application::Application(HttpStack& stack, WindowSystem& windows, const Text& serviceOrigin)
    : Application(WithStack(stack, windows), serviceOrigin) {}

Application::~Application() = default;

}  // namespace sorrel
