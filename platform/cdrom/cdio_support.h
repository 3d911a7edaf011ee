// What the image and device drives share of libcdio: an owning handle, a log handler that keeps
// libcdio's warnings off the user's terminal, and the table of contents as libcdio reports it.
// Included only by this folder's sources.
#pragma once

#include <cdio/cdio.h>

#include <memory>

#include "platform/cdrom/disc_toc.h"

namespace qv {

struct CdioDeleter {
  void operator()(CdIo_t* p) const { cdio_destroy(p); }
};
using CdioHandle = std::unique_ptr<CdIo_t, CdioDeleter>;

// Installs, once per process, a handler that passes on only libcdio's errors.
void QuietCdioLog();

// Throws ECdromError when libcdio cannot give a consistent table.
[[nodiscard]] CdToc TocFromCdio(CdIo_t* cdio, const std::string& what);

}  // namespace qv
