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

TEST(TStringListTest, OrderInsertDeleteAndObjects) {
  TStringList l;
  int payload = 7;
  l.Add("b");
  l.AddObject("c", &payload);
  l.Insert(0, "a");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(l.Objects(2), &payload);
  EXPECT_EQ(l.IndexOfObject(&payload), 2);
  EXPECT_EQ(l.IndexOf("B"), 1);  // case is ignored by default
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf("B"), -1);
  l.Move(0, 2);
  EXPECT_EQ(Items(l), (std::vector<std::string>{"b", "c", "a"}));
  l.Exchange(0, 1);
  l.Delete(2);
  EXPECT_EQ(Items(l), (std::vector<std::string>{"c", "b"}));
  EXPECT_THROW((void)l.Strings(2), EStringListError);
  EXPECT_THROW(l.Delete(-1), EStringListError);
  EXPECT_THROW(l.Insert(3, "x"), EStringListError);
  try {
    (void)l[5];
  } catch (const EStringListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (5)");
  }
}

TEST(TStringListTest, SortedListsAndDuplicates) {
  TStringList l;
  l.Add("pear");
  l.Add("Apple");
  l.Add("fig");
  l.SetSorted(true);
  EXPECT_EQ(Items(l), (std::vector<std::string>{"Apple", "fig", "pear"}));
  EXPECT_EQ(l.Add("banana"), 1);
  int index = -1;
  EXPECT_TRUE(l.Find("FIG", index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(l.Find("grape", index));
  EXPECT_EQ(index, 3);
  EXPECT_EQ(l.Add("apple"), 0);  // dupIgnore: the existing index
  EXPECT_EQ(l.Count(), 4);
  l.SetDuplicates(dupError);
  EXPECT_THROW(l.Add("PEAR"), EStringListError);
  l.SetDuplicates(dupAccept);
  l.Add("fig");
  EXPECT_EQ(l.Count(), 5);
  EXPECT_THROW(l.Insert(0, "x"), EStringListError);
  EXPECT_THROW(l.SetStrings(0, "x"), EStringListError);
  EXPECT_EQ(l.IndexOf("fig"), 2);
}

TEST(TStringListTest, NamesAndValues) {
  TStringList l;
  l.SetText("Artist=Somebody\nTITLE=First\ntitle=Second\nnovalue\n=empty name\n");
  EXPECT_EQ(l.Values("title"), "First");  // the first match wins
  EXPECT_EQ(l.Values("missing"), "");
  EXPECT_EQ(l.Names(0), "Artist");
  EXPECT_EQ(l.Names(3), "");
  EXPECT_EQ(l.ValueFromIndex(0), "Somebody");
  EXPECT_EQ(l.IndexOfName("ARTIST"), 0);
  l.SetValues("Year", "1999");
  EXPECT_EQ(l[l.Count() - 1], "Year=1999");
  l.SetValues("artist", "Other");
  EXPECT_EQ(l[0], "artist=Other");
  l.SetValues("Year", "");
  EXPECT_EQ(l.IndexOfName("Year"), -1);
  EXPECT_EQ(l.Values("x=y"), "");
}

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

TEST(TStringListTest, TextWithEitherLineBreak) {
  const struct {
    const char* text;
    std::vector<std::string> items;
  } cases[] = {
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\n\nb\n", {"a", "", "b"}},
      {"\n", {""}},
      {"", {}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\r\nb", {"a", "", "b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TStringList l;
    l.SetText(c.text);
    EXPECT_EQ(Items(l), c.items);
  }
  TStringList l;
  l.SetText("x\ny");
  EXPECT_EQ(l.Text(), "x\ny\n");
  l.LineBreak = "\r\n";
  EXPECT_EQ(l.Text(), "x\r\ny\r\n");
}

TEST(TStringListTest, FilesInUtf8OrWindows1252) {
  TempDir dir;
  WriteFile(dir / "cp.txt", "caf\xE9\r\nN\xB0 1\r\n");
  WriteFile(dir / "u8.txt",
            "\xEF\xBB\xBF"
            "caf\xC3\xA9\n");
  TStringList l;
  l.LoadFromFile(dir / "cp.txt");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"caf\u00E9", "N\u00B0 1"}));
  l.LoadFromFile(dir / "u8.txt");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"caf\u00E9"}));
  EXPECT_THROW(l.LoadFromFile(dir / "missing.txt"), EFOpenError);
  l.Add("\u20AC");
  l.SaveToFile(dir / "out.txt");
  EXPECT_EQ(ReadFile(dir / "out.txt"), "caf\xC3\xA9\n\xE2\x82\xAC\n");
  l.SaveToFile(dir / "out1252.txt", TTextEncoding::Cp1252);
  EXPECT_EQ(ReadFile(dir / "out1252.txt"), "caf\xE9\n\x80\n");
}

TEST(TStringListTest, CustomSortSeesTheListAsItStands) {
  TStringList l;
  l.SetCommaText("10,9,100,1");
  l.CustomSort([](const TStringList& list, int a, int b) {
    return StrToIntDef(list[a], 0) - StrToIntDef(list[b], 0);
  });
  EXPECT_EQ(l.CommaText(), "1,9,10,100");
}

}  // namespace
}  // namespace qv
