#include "app/html_parser.h"

namespace qv {

void THTMLParser::SetHTML(const TStrings& Value) {
  if (&Value == &html_) return;
  html_.Clear();
  html_.AddStrings(Value);
}

}  // namespace qv
