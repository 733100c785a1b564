// The entry point of the HTTP module (libsorrel-http-curl.so).
#include "http/curl_stack.h"
#include "http/curl_stack_module.h"

extern "C" __attribute__((visibility("default"))) sorrel::HttpStack* SorrelCreateCurlHttpStack() {
  return new sorrel::CurlHttpStack();
}
