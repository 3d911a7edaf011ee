// Binds an encoder library at run time. QUORVEL_LIB_<NAME> in the environment
// names another file to load instead, so a missing library can be tried out.
#pragma once

#include <string>

namespace qv {

class TLibraryLoader {
 public:
  // Loads `FileName` (or the override of QUORVEL_LIB_<EnvName>); Handle() stays
  // null when it cannot be loaded.
  TLibraryLoader(const char* EnvName, const char* FileName);
  TLibraryLoader(const TLibraryLoader&) = delete;
  TLibraryLoader& operator=(const TLibraryLoader&) = delete;
  ~TLibraryLoader();

  [[nodiscard]] void* Handle() const { return handle_; }
  // Looks up one entry point; a missing one marks the whole library unusable.
  template <class F>
  void Bind(F& Target, const char* Name) {
    Target = reinterpret_cast<F>(Symbol(Name));
  }
  // True when the library loaded and every Bind found its entry point.
  [[nodiscard]] bool Complete() const { return handle_ != nullptr && !missing_; }

 private:
  void* Symbol(const char* Name);
  void* handle_ = nullptr;
  bool missing_ = false;
};

}  // namespace qv
