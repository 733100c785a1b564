// What the window tests share: the libcurl stack the windows run on, and
// UTF-8 literals as Qt strings.
#pragma once

#include <QString>

#include "http/curl_stack.h"

namespace sorrel::test {

// Workers abandoned at a time-out may outlive a test, so the stack lives on.
inline HttpStack& WindowStack() {
  static auto* stack = new CurlHttpStack();
  return *stack;
}

inline QString Utf8(const char* text) { return QString::fromUtf8(text); }

}  // namespace sorrel::test
