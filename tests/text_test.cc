// Text the programs write: CSV fields a spreadsheet opens safely, and file
// names that are not UTF-8 made printable and storable in JSON.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "formats/csvtext.h"
#include "formats/jsonfile.h"
#include "formats/utf8.h"

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

TEST(Utf8, InvalidBytesAreEscapedWhereJsonReplacesThem) {
  struct Case {
    std::string text;
    const char* escaped;
  } const cases[] = {
      {"plain", "plain"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},        // été
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},          // U+1F600
      {"a\xFF" "b", "a\\xffb"},
      {"\xC0\x80", "\\xc0\\x80"},                        // overlong NUL
      {"\xE0\x80\xAF", "\\xe0\\x80\\xaf"},               // overlong /
      {"\xED\xA0\x80", "\\xed\\xa0\\x80"},               // a surrogate
      {"\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},      // above U+10FFFF
      {"\xC3", "\\xc3"},                                 // cut short
      {"\xE2\x82" "x", "\\xe2\\x82x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8escaped(c.text), c.escaped) << c.escaped;
    // The JSON library agrees on what is valid.
    bool strict = true;
    try {
      (void)Json(c.text).dump();
    } catch (const Json::type_error&) {
      strict = false;
    }
    EXPECT_EQ(validutf8(c.text), strict) << c.escaped;
    Json j;
    putpath(j, "source", c.text);
    EXPECT_EQ(j.contains("source_bytes_replaced"), !strict) << c.escaped;
    EXPECT_NO_THROW(jsontext(j)) << c.escaped;
  }

  // A stream through the escaping buffer, flushed or not at a line's end.
  std::ostringstream to;
  {
    Utf8EscapingBuf buf(to.rdbuf());
    std::ostream out(&buf);
    out << "file \xFF.json\n" << "half";
    EXPECT_EQ(to.str(), "file \\xff.json\n");
    out << " \xFE" << std::flush;
    EXPECT_EQ(to.str(), "file \\xff.json\nhalf \\xfe");
    out << "end";
  }
  EXPECT_EQ(to.str(), "file \\xff.json\nhalf \\xfeend");
}

}  // namespace
