// Text the programs write: CSV fields a spreadsheet opens safely.
#include <gtest/gtest.h>

#include <string>

#include "formats/csvtext.h"

namespace {

TEST(CsvText, FormulaLikeTextIsQuotedBehindAQuoteMark) {
  struct Case {
    const char* text;
    const char* field;
  } const cases[] = {
      {"demo", "demo"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"=1+2", "\"'=1+2\""},
      {"+1", "\"'+1\""},
      {"-1", "\"'-1\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"\tx", "\"'\tx\""},
      {"\rx", "\"'\rx\""},
      {"=\"a\",b", "\"'=\"\"a\"\",b\""},
      {"a=b-c", "a=b-c"},  // only the first character counts
  };
  for (const Case& c : cases) EXPECT_EQ(csvfield(c.text), c.field) << c.text;
}

}  // namespace
