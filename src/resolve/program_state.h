// The program-wide state that the resolution workflow and the captcha
// retrieval share. Created at start, released at exit; touched on the GUI
// thread only.
#pragma once

#include <memory>
#include <vector>

#include "support/random_integers.h"
#include "support/regex_object.h"
#include "text/text.h"

namespace sorrel {

struct ProgramState {
  static constexpr int kFieldSlots = 8;

  explicit ProgramState(std::unique_ptr<RegexObject> regexObject) : Regex(std::move(regexObject)) {}
  ~ProgramState() {
    if (Regex) Regex->Destroy();
  }
  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;

  std::unique_ptr<RegexObject> Regex;
  Text PageText;
  // Slot k (1-based) of the field harvest is element k - 1. The tables start
  // with 8 slots and grow when a page holds more fields.
  std::vector<Text> FieldNames = std::vector<Text>(kFieldSlots);
  std::vector<Text> FieldValues = std::vector<Text>(kFieldSlots);
  Text LoginBody;
  Text LoginResponse;
  int CaptchaFailures = 0;
  Text NormalLink;
  Text ThunderLink;
  Text FlashGetLink;
  Text CaptchaUrl;
  RandomIntegers Random;
};

}  // namespace sorrel
