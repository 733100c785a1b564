// The captcha refresh's random numbers.
#pragma once

#include <cstdint>

namespace sorrel {

// The C library's linear congruential generator, never seeded: the state
// starts at 1 and each draw gives an integer from 0 to 32767.
class RandomIntegers {
 public:
  int Next();

 private:
  std::uint32_t state_ = 1;
};

}  // namespace sorrel
