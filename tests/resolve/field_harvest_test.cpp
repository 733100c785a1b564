// The field harvest over the platform engine: a page handed over a few lines
// at a time gives exactly the fields of one search over the whole page, and
// a line over its budget costs only itself.
#include "resolve/field_harvest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_helpers/platform_engines.h"
#include "text/codepage.h"

namespace sorrel {

void PrintTo(const FormField& f, std::ostream* out) { *out << f.name << "=" << f.value; }

namespace {

std::vector<FormField> OneSearch(const Text& page) {
  const auto regex = test::PlatformRegexObject();
  regex->Search(kInputFieldPattern, page);
  std::vector<FormField> fields;
  for (int k = 1; k <= regex->MatchCount(); ++k) {
    fields.push_back({regex->SubMatchText(k, 1), regex->SubMatchText(k, 2)});
  }
  return fields;
}

std::vector<FormField> Harvested(const Text& page, const HarvestBudget& budget = {}) {
  const auto regex = test::PlatformRegexObject();
  test::CountingPump pump;
  return HarvestFormFields(*regex, page, pump, budget);
}

// Pages whose matches run over line ends, share lines or sit next to lines
// that cannot begin one: the harvest must not change what the engine finds.
TEST(FieldHarvest, GivesTheFieldsOfOneSearchOverTheWholePage) {
  const std::vector<Text> pages = {
      "<input name=\"a\" value=\"1\">\n<p>x</p>\n<input name=\"b\" value=\"2\">",
      "<input name=\"a\" value=\"\n\n  \"><input name=\"b\" value=\"2\">\n",
      "<input name=\"a\" value=\"\n \t\n<input name=\"b\" value=\"2\">\n",
      "<input name=\"a\" value=\"\n\n<\ninput name=\"b\" value=\"3\">\n",
      "<input name=\"a\" value=\"\n\"<input name=\"b\" value=\"3\">\n",
      "<input name=\"a\" value=\"1\"><input name=\"b\" value=\"2\">\n",
      "<input name=\"a\"\nvalue=\"1\">\n<INPUT NAME=\"c\" x VALUE=\"\">\r\n",
      "<input name=\"a\" type=\"t\" value=\"1\" name=\"b\" value=\"2\"\n",
      "<input\n name=\"a\" value=\"1\">\n<input name=\"\" value=\"1\">\n<input name=\"q\"value=\"",
      Utf8ToGbk(
          "<p>说明</p><input name=\"名\" value=\"值　\">\n<input name=\"b\" value=\"　\n\"\n"),
      "value=\"1\" <input name=\"a\"\n<input name=\"b\" value=\"2\" <input name=\"c\"",
      "<input name=\"a\" value=\"  \nx\n  \"<input name=\"b\" value=\"2\">\n",
      "<inputname=\"a\"value=\"1\">\n<input name=\"b\"xvalue=\"2\">\n",
  };
  for (const Text& page : pages) {
    SCOPED_TRACE(page);
    EXPECT_EQ(Harvested(page), OneSearch(page));
  }
}

// Pages of random lines from the pieces above, harvested in one search and
// with a search for every piece.
TEST(FieldHarvest, RandomPagesGiveTheFieldsOfOneSearch) {
  const std::vector<Text> parts = {
      "<input name=\"a\" value=\"1\">",
      "<INPUT type=\"h\" name=\"b\" value=\"\">",
      "<input name=\"c\" value=\"",
      "\"",
      "  ",
      "\t",
      "<p>text</p>",
      "<input name=\"d\"",
      " value=\"4\"",
      "<",
      "input",
      "x name=\"e\" value=\"5\"",
  };
  HarvestBudget onePiece;
  onePiece.perSearch = 1;
  unsigned state = 12345;
  auto next = [&] { return (state = state * 1103515245 + 12345) >> 16; };
  for (int round = 0; round < 1000; ++round) {
    Text page;
    for (int n = next() % 12; n > 0; --n) {
      page += parts[next() % parts.size()];
      if (next() % 2 == 0) page += next() % 2 ? "\n" : "\r\n";
    }
    SCOPED_TRACE(page);
    const auto fields = OneSearch(page);
    ASSERT_EQ(Harvested(page), fields);
    ASSERT_EQ(Harvested(page, onePiece), fields);
  }
}

Text HostileLine(std::size_t bytes, const Text& unit = "<input name=\"") {
  Text line;
  while (line.size() < bytes) line += unit;
  return line + "\n";
}

const Text kForm =
    "<form>\n<input type=\"hidden\" name=\"file_id\" value=\"7\" />\n"
    "<input type=\"hidden\" name=\"hash_key\" value=\"k\" />\n</form>\n";
const std::vector<FormField> kFormFields = {{"file_id", "7"}, {"hash_key", "k"}};

struct BudgetCase {
  const char* label;
  Text page;
  std::vector<FormField> fields;
};

// Lines an unbounded engine would take hours over hold no field; the lines
// around them are harvested whole.
TEST(FieldHarvest, ALineOverItsBudgetCostsOnlyItself) {
  const std::vector<BudgetCase> cases = {
      {"openings that never close", HostileLine(1 << 20), {}},
      {"openings before a form", HostileLine(1 << 20) + kForm, kFormFields},
      {"openings with values before a form", HostileLine(1 << 20, "<input name=\"value=\"") + kForm,
       kFormFields},
      {"a field, costly line, a field",
       "<input name=\"a\" value=\"1\">\n" + HostileLine(200000, "<input name=\"x\" value=\"") +
           kForm,
       {{"a", "1"}, {"file_id", "7"}, {"hash_key", "k"}}},
      {"a blank value running into a costly line",
       "<input name=\"a\" value=\"\n\n" + HostileLine(200000, "\"<input name=\"x\" value=\""),
       {{"a", "\n\n"}}},
  };
  for (const BudgetCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Harvested(c.page), c.fields);
  }
}

// Each line holds a field and openings that never close; two of them fit
// into the page's budget, the later ones hold no field, the form does.
TEST(FieldHarvest, APageSpentOnCostlyLinesStillHarvestsCheapOnes) {
  Text page;
  for (int i = 0; i < 40; ++i) {
    page += "<input name=\"f" + std::to_string(i) + "\" value=\"1\">" + HostileLine(390);
  }
  page += kForm;
  HarvestBudget budget;
  budget.perPage = 1'000'000;
  EXPECT_EQ(
      Harvested(page, budget),
      (std::vector<FormField>{{"f0", "1"}, {"f1", "1"}, {"file_id", "7"}, {"hash_key", "k"}}));
  budget.perPage = 100'000'000;
  EXPECT_EQ(Harvested(page, budget).size(), 42u);
}

// Events are processed between the searches, and what they do to the
// caller's text does not reach the harvest.
TEST(FieldHarvest, ProcessesEventsBetweenSearches) {
  Text page;
  for (int i = 0; i < 5; ++i) page += "<input name=\"f" + std::to_string(i) + "\" value=\"v\">\n";
  class Rewriting : public EventPump {
   public:
    explicit Rewriting(Text& page) : page_(page) {}
    void ProcessPendingEvents() override {
      ++calls;
      page_ = "<input name=\"other\" value=\"o\">\n";
    }
    int calls = 0;

   private:
    Text& page_;
  } pump(page);
  HarvestBudget budget;
  budget.perSearch = 1;
  const auto regex = test::PlatformRegexObject();
  const auto fields = HarvestFormFields(*regex, page, pump, budget);
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[4], (FormField{"f4", "v"}));
  EXPECT_EQ(pump.calls, 6);
}

}  // namespace
}  // namespace sorrel
