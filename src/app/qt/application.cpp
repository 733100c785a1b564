#include "app/qt/application.h"

#include "support/regex_object.h"

namespace sorrel {

Application::Application(HttpStack& stack, WindowSystem& windows, const Text& serviceOrigin)
    : state_(MakePlatformRegexObject()),
      window_(serviceOrigin),
      web_(stack, window_, windows),
      resolver_(state_, web_, window_, serviceOrigin) {
  window_.Bind(resolver_);
}

Application::~Application() = default;

}  // namespace sorrel
