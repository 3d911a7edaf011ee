// Components the main window's form data creates but its workflows never use: the HTML
// parser, the WinInet-style HTTP component and an XML document component. Until they are
// built they are plain components under their class names with the stored properties.
#pragma once

#include <string>

#include "platform/base/component.h"

namespace qv {

class THTMLParser : public TComponent {
 public:
  explicit THTMLParser(TComponent* owner) : TComponent(owner) {}
  std::string HTML;
};

class TIEHTTP : public TComponent {
 public:
  explicit TIEHTTP(TComponent* owner) : TComponent(owner) {}
  std::string RequestMethod = "GET";
  std::string URL;
};

class TXMLDocument : public TComponent {
 public:
  explicit TXMLDocument(TComponent* owner) : TComponent(owner) {}
  bool Active = false;
};

}  // namespace qv
