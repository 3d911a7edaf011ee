#include "audio/library_loader.h"

#include <dlfcn.h>

#include <cstdlib>

namespace qv {

TLibraryLoader::TLibraryLoader(const char* EnvName, const char* FileName) {
  const std::string env = std::string("QUORVEL_LIB_") + EnvName;
  const char* override = std::getenv(env.c_str());
  const char* name = override != nullptr && *override != '\0' ? override : FileName;
  handle_ = dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

TLibraryLoader::~TLibraryLoader() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* TLibraryLoader::Symbol(const char* Name) {
  if (handle_ == nullptr) return nullptr;
  void* const p = dlsym(handle_, Name);
  if (p == nullptr) missing_ = true;
  return p;
}

}  // namespace qv
