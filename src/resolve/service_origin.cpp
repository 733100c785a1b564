#include "resolve/service_origin.h"

#include <cstdlib>

#include "text/codepage.h"

namespace sorrel {

const Text& ServiceOrigin() {
  static const Text origin = [] {
    const char* fromEnvironment = std::getenv("SORREL_SERVICE_ORIGIN");
    Text value = (fromEnvironment && *fromEnvironment) ? fromEnvironment : SORREL_DEFAULT_ORIGIN;
    while (!value.empty() && value.back() == '/') value.pop_back();
    return Utf8ToGbk(value);
  }();
  return origin;
}

}  // namespace sorrel
