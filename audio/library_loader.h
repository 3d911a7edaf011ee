// Binds an encoder library at run time (see TDynLib for the QUORVEL_LIB_<NAME>
// override), and tells whether every entry point the output needs is there.
#pragma once

#include "platform/base/dynlib.h"

namespace qv {

class TLibraryLoader {
 public:
  explicit TLibraryLoader(const char* FileName) { lib_.Load(FileName); }

  // Looks up one entry point; a missing one makes the whole library unusable.
  template <class F>
  void Bind(F& Target, const char* Name) {
    Target = lib_.Proc<F>(Name);
    if (Target == nullptr) missing_ = true;
  }
  // True when the library loaded and every Bind found its entry point.
  [[nodiscard]] bool Complete() const { return lib_.Loaded() && !missing_; }

 private:
  TDynLib lib_;
  bool missing_ = false;
};

}  // namespace qv
