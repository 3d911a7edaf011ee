#include "platform/base/stringlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/streams.h"
#include "platform/base/text.h"
#include "tests/platform/base/list_items.h"
#include "tests/platform/base/temp_dir.h"

namespace qv {
namespace {

using qv::testing::Items;
using qv::testing::ReadFile;
using qv::testing::TempDir;
using qv::testing::WriteFile;

TEST(TStringListTest, CommaTextBothWays) {
  const struct {
    std::vector<std::string> items;
    const char* text;
  } cases[] = {
      {{"a", "b", "c"}, "a,b,c"},
      {{"a b", "c"}, "\"a b\",c"},
      {{"say \"hi\"", "x,y"}, "\"say \"\"hi\"\"\",\"x,y\""},
      {{""}, "\"\""},
      {{"a", "", "b"}, "a,,b"},
      {{}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TStringList l;
    for (const auto& s : c.items) l.Add(s);
    EXPECT_EQ(l.CommaText(), c.text);
    TStringList back;
    back.SetCommaText(c.text);
    // "" alone reads back as one empty item, like the class library.
    if (c.items.empty()) {
      EXPECT_EQ(back.Count(), 0);
    } else {
      EXPECT_EQ(Items(back), c.items);
    }
  }
  TStringList l;
  l.SetCommaText("  one two,  three ,");
  // Blanks separate items unless quoted; a final comma adds an empty item.
  EXPECT_EQ(Items(l), (std::vector<std::string>{"one", "two", "three", ""}));
  l.StrictDelimiter = true;
  l.Delimiter = ';';
  l.SetDelimitedText("one two;three");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"one two", "three"}));
  l.SetCommaText("\"unterminated, here");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"unterminated, here"}));
}

}  // namespace
}  // namespace qv
