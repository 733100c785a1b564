// What each platform's private engine writes the same way: the cookie file
// it hands the engine, and the names it holds in a download folder.
#pragma once

#include <string>

#include "download/private_engine.h"

namespace sorrel {

// The cookies in the Netscape format aria2 loads: each for the host alone,
// never its subdomains. Pieces that would break a line are left out.
std::string NetscapeCookies(const HostCookies& cookies);

// "stem.k.ext", the k-th other name aria2 would give `name` (k = 0: `name`).
std::string NumberedName(const std::string& name, int k);

// A stable file name for the hold on one path (FNV-1a, 64 bits, in hex).
std::string HoldKey(const std::string& path);

}  // namespace sorrel
