// The field harvest and the login body over arbitrary pages, with a stack
// that never connects.
#include "fuzz_target.h"
#include "http/http_stack.h"
#include "http/web_access.h"
#include "resolve/resolver.h"
#include "support/notice.h"
#include "test_helpers/fake_stack.h"
#include "test_helpers/fake_view.h"
#include "test_helpers/platform_engines.h"

namespace {

class NoNetwork : public sorrel::HttpStack {
 public:
  std::unique_ptr<sorrel::HttpSession> Open(std::string_view, std::string_view,
                                            sorrel::EventPump*) override {
    std::abort();
  }
  bool SetCookie(std::string_view, std::string_view, std::string_view) override { return false; }
  std::string CookieLine(std::string_view) override { return {}; }
  bool LimitsTime() override { return false; }
};

}  // namespace

SORREL_FUZZ_TARGET(login_body) {
  std::string parts[2];
  sorrel::fuzz::SplitInput(data, size, parts);
  const sorrel::Text& captcha = parts[0];
  const sorrel::Text& page = parts[1];

  sorrel::ProgramState state{sorrel::test::PlatformRegexObject()};
  sorrel::test::FakeView view;
  sorrel::test::RecordingWindows windows;
  NoNetwork stack;
  sorrel::WebClient web{stack, view, windows};
  sorrel::Resolver resolver{state, web, view, sorrel::test::PlatformPictures(),
                            "http://127.0.0.1:1"};

  const sorrel::Text body = resolver.BuildLoginBody(page, captcha);
  const sorrel::Text tail = "randcode=" + captcha + "&Comfirm=yes";
  SORREL_FUZZ_CHECK(body.size() >= tail.size() &&
                    body.compare(body.size() - tail.size(), tail.size(), tail) == 0);
  SORREL_FUZZ_CHECK(state.FieldNames.size() == state.FieldValues.size());
  for (const sorrel::Text& name : state.FieldNames) {
    SORREL_FUZZ_CHECK(name.empty() || name == "file_id" || name == "hash_key" ||
                      name == "authtype" || name == "hash_info");
  }
  return 0;
}
