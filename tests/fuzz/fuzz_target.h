// One fuzz target per source file. Built with libFuzzer, SORREL_FUZZ_TARGET
// defines the fuzzer's entry point; built into the replay test
// (SORREL_FUZZ_REPLAY), it registers the same body under its name so that
// kept inputs run in the normal suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace sorrel::fuzz {

using TargetFunction = int (*)(const std::uint8_t* data, std::size_t size);

bool Register(const char* name, TargetFunction function);
// Reports a broken property of the code under test.
[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, condition);
  std::abort();
}

// Splits the input into `n` parts at the byte 0xFF (the last part takes the
// rest); missing parts are empty.
template <std::size_t N>
void SplitInput(const std::uint8_t* data, std::size_t size, std::string (&parts)[N]) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (std::size_t i = 0; i < N; ++i) {
    const std::size_t cut = i + 1 == N ? rest.npos : rest.find('\xFF');
    parts[i] = std::string(rest.substr(0, cut));
    rest = cut == rest.npos ? std::string_view() : rest.substr(cut + 1);
  }
}

}  // namespace sorrel::fuzz

#define SORREL_FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::sorrel::fuzz::Fail(#condition, __FILE__, __LINE__))

#ifdef SORREL_FUZZ_REPLAY
#define SORREL_FUZZ_TARGET(name)                                       \
  static int name##Target(const std::uint8_t* data, std::size_t size); \
  [[maybe_unused]] static const bool name##Registered =                \
      ::sorrel::fuzz::Register(#name, &name##Target);                  \
  static int name##Target(const std::uint8_t* data, std::size_t size)
#else
#define SORREL_FUZZ_TARGET(name) \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
#endif
