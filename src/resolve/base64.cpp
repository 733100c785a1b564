#include "resolve/base64.h"

#include <algorithm>
#include <array>

namespace sorrel {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

ByteSet Base64Decode(Text& text, EventPump& pump) {
  text = Replace(RemoveSpaces(text), "\r\n", "", 1, -1, true);
  const size_t groups = (text.size() + 3) / 4;

  // A position that a group does not read keeps its value from the group
  // before; that decides the bytes that foreign characters produce.
  std::array<unsigned, 4> q{};
  ByteSet result;
  result.reserve(groups * 3);
  int stoppedAt = 0;
  for (size_t g = 0; g < groups; ++g) {
    stoppedAt = 5;
    for (int p = 0; p < 4; ++p) {
      const size_t at = g * 4 + static_cast<size_t>(p);
      const auto byte = at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
      if (byte == 0) {
        q[p] = 0;
        continue;
      }
      const size_t value = kAlphabet.find(static_cast<char>(byte));
      if (value == std::string_view::npos) {
        q[p] = byte;
        stoppedAt = p + 1;
        break;
      }
      q[p] = static_cast<unsigned>(value);
    }
    result.push_back(static_cast<std::uint8_t>(((q[0] * 4) | (q[1] / 16)) & 0xFF));
    result.push_back(static_cast<std::uint8_t>(((q[1] * 16) | (q[2] / 4)) & 0xFF));
    result.push_back(static_cast<std::uint8_t>(((q[2] * 64) | q[3]) & 0xFF));
    pump.ProcessPendingEvents();
  }

  if (stoppedAt < 5) {
    const size_t drop = std::min(result.size(), static_cast<size_t>(5 - stoppedAt));
    result.resize(result.size() - drop);
  }
  return result;
}

}  // namespace sorrel
