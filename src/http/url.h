// Splitting a page address into the host, path and port that a connection
// and a request need. Odd input gives an odd but harmless result.
//
// One scheme rule holds for every helper and both request operations: the
// scheme is the text before the first "://" when that text stands at the
// very start of the address as a scheme name; "https" there (ASCII case
// ignored) means TLS, anything else plain HTTP, and a "://" further on is
// part of the address like any other text.
#pragma once

#include "text/text.h"

namespace sorrel {

// The scheme name, lower-cased; empty when the address has none.
Text UrlScheme(std::string_view address);
// True when the scheme is "https": the exchange goes over TLS.
bool UrlIsSecure(std::string_view address);
// The address with "http://" in front when it has no scheme, else unchanged.
Text WithScheme(std::string_view address);

// The host name, lower-cased (ASCII letters only).
Text UrlHost(std::string_view address);
// The path from the first "/" after the host to the end, query included;
// "/" when there is none.
Text UrlPath(std::string_view address);
// The port after the authority's ":". Without one, 443 for https and 80 for
// anything else; an https port that reads as 0 also gives 443.
int UrlPort(std::string_view address);

}  // namespace sorrel
