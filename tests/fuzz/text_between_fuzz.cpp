// TextBetween with arbitrary text, markers, start and case switch.
#include "fuzz_target.h"
#include "text/decode.h"
#include "text/text.h"

SORREL_FUZZ_TARGET(text_between) {
  if (size < 2) return 0;
  const int start = static_cast<std::int8_t>(data[0]);
  const bool caseSensitive = (data[1] & 1) != 0;
  std::string parts[3];
  sorrel::fuzz::SplitInput(data + 2, size - 2, parts);
  const sorrel::Text cut = sorrel::TextBetween(parts[0], parts[1], parts[2], start, caseSensitive);
  const sorrel::Text unstarted = sorrel::TextBetween(parts[0], parts[1], parts[2]);
  // What is cut out is a piece of the text.
  SORREL_FUZZ_CHECK(cut.size() <= parts[0].size());
  SORREL_FUZZ_CHECK(unstarted.size() <= parts[0].size());
  const int found = sorrel::Find(parts[0], parts[1], start, !caseSensitive);
  SORREL_FUZZ_CHECK(found == -1 ||
                    (found >= 1 && static_cast<std::size_t>(found) <= parts[0].size() + 1));
  return 0;
}
