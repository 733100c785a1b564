// Splitting a page address into the host, path and port that a connection
// and a request need. Odd input gives an odd but harmless result.
#pragma once

#include "text/text.h"

namespace sorrel {

// The host name, lower-cased (ASCII letters only).
Text UrlHost(std::string_view address);
// The path from the first "/" after the host to the end, query included;
// "/" when there is none.
Text UrlPath(std::string_view address);
// The port after the authority's ":", 80 when there is none, 0 for https.
int UrlPort(std::string_view address);

}  // namespace sorrel
