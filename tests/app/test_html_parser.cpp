#include "app/html_parser.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(HTMLParserTest, OwnsItsListsAndCopiesTheLinesItIsGiven) {
  auto form = std::make_unique<TComponent>(nullptr);
  auto* parser = Create<THTMLParser>(form.get());
  TStrings page;
  page.Add("<html>");
  page.AddObject("<title>t</title>", &page);
  parser->HTML().Add("old line");
  parser->SetHTML(page);
  page.SetStrings(0, "changed");
  page.Add("</html>");
  ASSERT_EQ(parser->HTML().Count(), 2);
  EXPECT_EQ(parser->HTML()[0], "<html>");
  EXPECT_EQ(parser->HTML().Objects(1), &page);
  parser->SetHTML(parser->HTML());  // its own lines stay
  EXPECT_EQ(parser->HTML().Count(), 2);

  // Every list exists from the start and is freed with the parser (the sanitizer checks).
  TParsed& parsed = parser->Parsed();
  for (TStrings* list :
       {&parsed.Hyperlinks(), &parsed.Images(), &parsed.EMails(), &parsed.HTTPlinks(),
        &parsed.FTPlinks(), &parsed.Locallinks(), &parsed.FramePages()}) {
    EXPECT_EQ(list->Count(), 0);
    list->Add(std::string(100, 'x'));
  }
  for (TLocalRemote* pair : {&parsed.HTML(), &parsed.Image(), &parsed.Media(), &parsed.Java(),
                             &parsed.ActiveX(), &parsed.ASP(), &parsed.PHP(), &parsed.PERL()}) {
    EXPECT_NE(&pair->Local(), &pair->Remote());
    pair->Local().Add(std::string(100, 'l'));
    pair->Remote().Add(std::string(100, 'r'));
  }
  parsed.Title = std::string(100, 't');
  EXPECT_EQ(parsed.HTML().Local().Count(), 1);
  EXPECT_EQ(parsed.Hyperlinks()[0], std::string(100, 'x'));
  EXPECT_EQ(form->ComponentCount(), 1);
  form.reset();  // frees the parser with its owner
}

}  // namespace
}  // namespace qv
