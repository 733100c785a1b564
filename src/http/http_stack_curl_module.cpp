#include "http/http_stack_curl_module.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace sorrel {

std::vector<std::string> DefaultCurlModulePaths() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {kCurlModuleName};
  const std::filesystem::path dir = exe.parent_path();
  return {(dir / kCurlModuleName).string(),
          (dir / ".." / "lib" / "sorrel-resolver" / kCurlModuleName).lexically_normal().string()};
}

LoadedCurlStack::LoadedCurlStack(std::vector<std::string> candidates)
    : candidates_(std::move(candidates)) {}

HttpStack* LoadedCurlStack::Loaded() {
  std::call_once(once_, [this] {
    std::string reasons;
    for (const std::string& path : candidates_) {
      // RTLD_NODELETE: the module's code must outlive every handle to it.
      // RTLD_LAZY: the functions of libcurl's own libraries are bound at
      // their first call, as in any program linked with libcurl, rather than
      // all of them now; the module itself is linked to be bound in full
      // here, so that a libcurl without a function it calls fails this load.
      void* module = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
      if (module == nullptr) {
        if (const char* reason = dlerror()) reasons += std::string("\n  ") + reason;
        continue;
      }
      using Factory = HttpStack* (*)(int quiet);
      auto create = reinterpret_cast<Factory>(dlsym(module, kCurlModuleFactory));
      stack_ = create != nullptr ? create(quiet_ ? 1 : 0) : nullptr;
      if (stack_ != nullptr) return;
      reasons += "\n  " + path + ": no " + kCurlModuleFactory;
    }
    std::fprintf(stderr, "sorrel-resolver: the HTTP module %s could not be loaded:%s\n",
                 kCurlModuleName, reasons.c_str());
  });
  return stack_;
}

std::unique_ptr<HttpSession> LoadedCurlStack::Open(std::string_view agent, std::string_view proxy,
                                                   EventPump* waitPump) {
  HttpStack* stack = Loaded();
  return stack != nullptr ? stack->Open(agent, proxy, waitPump) : nullptr;
}

bool LoadedCurlStack::SetCookie(std::string_view url, std::string_view name,
                                std::string_view data) {
  HttpStack* stack = Loaded();
  return stack != nullptr && stack->SetCookie(url, name, data);
}

std::string LoadedCurlStack::CookieLine(std::string_view url) {
  HttpStack* stack = Loaded();
  return stack != nullptr ? stack->CookieLine(url) : std::string();
}

bool LoadedCurlStack::LimitsTime() {
  HttpStack* stack = Loaded();
  return stack != nullptr && stack->LimitsTime();
}

}  // namespace sorrel
