#include "platform/base/dynlib.h"

#include <dlfcn.h>

#include <cstdlib>
#include <utility>

namespace qv {

TDynLib::TDynLib(TDynLib&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      name_(std::move(other.name_)),
      error_(std::move(other.error_)) {}

TDynLib& TDynLib::operator=(TDynLib&& other) noexcept {
  if (this != &other) {
    Unload();
    handle_ = std::exchange(other.handle_, nullptr);
    name_ = std::move(other.name_);
    error_ = std::move(other.error_);
  }
  return *this;
}

std::string TDynLib::OverrideVariable(std::string_view default_name) {
  std::string_view stem = default_name;
  const auto slash = stem.find_last_of("/\\");
  if (slash != std::string_view::npos) stem.remove_prefix(slash + 1);
  if (stem.substr(0, 3) == "lib") stem.remove_prefix(3);
  const auto so = stem.find(".so");
  if (so != std::string_view::npos) stem = stem.substr(0, so);
  std::string name = "QUORVEL_LIB_";
  for (const char c : stem) {
    if (c >= 'a' && c <= 'z') {
      name += char(c - 32);
    } else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      name += c;
    } else {
      name += '_';
    }
  }
  return name;
}

bool TDynLib::Load(const std::string& default_name) {
  Unload();
  name_ = default_name;
  // getenv is read-only here; the program sets no variables while it runs.
  const char* over = std::getenv(OverrideVariable(default_name).c_str());
  if (over != nullptr && *over != '\0') name_ = over;
  handle_ = ::dlopen(name_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* err = ::dlerror();
    error_ = err != nullptr ? err : (name_ + ": cannot be loaded");
    return false;
  }
  error_.clear();
  return true;
}

void TDynLib::Unload() {
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
}

void* TDynLib::Symbol(const char* symbol) const {
  if (handle_ == nullptr || symbol == nullptr) return nullptr;
  return ::dlsym(handle_, symbol);
}

}  // namespace qv
