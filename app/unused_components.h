// The XML document component that the main window's form data creates but its workflows never
// use. It is a plain component under its class name with the stored property.
#pragma once

#include "platform/base/component.h"

namespace qv {

class TXMLDocument : public TComponent {
 public:
  explicit TXMLDocument(TComponent* owner) : TComponent(owner) {}
  bool Active = false;
};

}  // namespace qv
