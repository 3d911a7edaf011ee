#include "app/html_parser.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(HTMLParserTest, OwnsItsListsAndCopiesTheLinesItIsGiven) {
  auto form = std::make_unique<TComponent>(nullptr);
  auto* parser = Create<THTMLParser>(form.get());
  TStrings page;
  page.SetText("<html>\n<title>t</title>\n");
  parser->HTML().Add("old line");
  parser->SetHTML(page);
  page.SetStrings(0, "changed");
  parser->SetHTML(parser->HTML());  // its own lines stay
  EXPECT_EQ(parser->HTML().Text(), "<html>\n<title>t</title>\n");

  // Every list exists from the start and goes with the parser (the sanitizer checks).
  TParsed& p = parser->Parsed();
  std::vector<TStrings*> lists = {&p.Hyperlinks(), &p.Images(),     &p.EMails(),    &p.HTTPlinks(),
                                  &p.FTPlinks(),   &p.Locallinks(), &p.FramePages()};
  for (TLocalRemote* pair : {&p.HTML(), &p.Image(), &p.Media(), &p.Java(), &p.ActiveX(), &p.ASP(),
                             &p.PHP(), &p.PERL()}) {
    lists.push_back(&pair->Local());
    lists.push_back(&pair->Remote());
  }
  for (TStrings* list : lists) {
    EXPECT_EQ(list->Count(), 0);
    list->Add(std::string(100, 'x'));
  }
  p.Title = std::string(100, 't');
  EXPECT_EQ(p.PERL().Remote()[0], std::string(100, 'x'));
  form.reset();
}

}  // namespace
}  // namespace qv
