// Failures of the CD layer: a drive that cannot be opened, an unreadable disc image, a read
// outside the disc. The message names the drive or file and what is wrong with it.
#pragma once

#include "platform/base/exception.h"

namespace qv {

class ECdromError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace qv
