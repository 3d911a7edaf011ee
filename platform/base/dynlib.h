// Run-time libraries, loaded by name as the program loads its encoder and ripping
// libraries: a move-only owner of a dlopen handle.
//
// Override rule: Load(default_name) first looks at the environment variable
// QUORVEL_LIB_<NAME>. <NAME> comes from the default name's file part: a leading
// "lib" is dropped, everything from the first ".so" on is dropped, letters are
// upper-cased and any character other than a letter or digit becomes '_':
//   libmp3lame.so.0 -> QUORVEL_LIB_MP3LAME     libFLAC.so.12 -> QUORVEL_LIB_FLAC
//   libvorbisenc.so.2 -> QUORVEL_LIB_VORBISENC  /opt/x/libcdrip.so -> QUORVEL_LIB_CDRIP
// When that variable is set and not empty, its value is loaded instead of the
// default name, and nothing else is tried.
#pragma once

#include <string>
#include <string_view>

namespace qv {

class TDynLib {
 public:
  TDynLib() = default;
  ~TDynLib() { Unload(); }
  TDynLib(TDynLib&& other) noexcept;
  TDynLib& operator=(TDynLib&& other) noexcept;
  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;

  // Loads the library (see the override rule), unloading any earlier one first.
  // Returns Loaded(); on failure ErrorText() says why.
  bool Load(const std::string& default_name);
  void Unload();
  [[nodiscard]] bool Loaded() const { return handle_ != nullptr; }
  // The name actually passed to dlopen.
  [[nodiscard]] const std::string& LoadedName() const { return name_; }
  [[nodiscard]] const std::string& ErrorText() const { return error_; }

  // The symbol's address, nullptr when the library is not loaded or lacks it.
  [[nodiscard]] void* Symbol(const char* symbol) const;
  template <class T>
  [[nodiscard]] T Proc(const char* symbol) const {
    return reinterpret_cast<T>(Symbol(symbol));
  }

  // "QUORVEL_LIB_MP3LAME" for "libmp3lame.so.0".
  [[nodiscard]] static std::string OverrideVariable(std::string_view default_name);

 private:
  void* handle_ = nullptr;
  std::string name_;
  std::string error_;
};

}  // namespace qv
