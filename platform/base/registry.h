// A stand-in for the system registry, kept in one text file in the format of the
// platform's registry export ("[HKEY_CURRENT_USER\Software\...]" headers, then
// "\"Name\"=dword:00000091", "\"Name\"=\"text\"", "\"Name\"=hex:91,00,00,00", "@" for
// a key's default value). It never touches the desktop's own settings.
//
// The file is $QUORVEL_REGISTRY, else $XDG_CONFIG_HOME/quorvel/registry.reg, else
// $HOME/.config/quorvel/registry.reg. Every read takes the file as it is now; every
// write locks it (flock on "<file>.lock"), reads it, changes it and rewrites it by
// way of a temporary file, so a failed write leaves it as it was. A file that exists
// but cannot be read is never overwritten: the write throws. Key and value names
// match without regard to ASCII case. Thread-safe between objects; one TRegistry
// object belongs to one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/exception.h"

namespace qv {

class TStringList;

class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

using HKEY = uintptr_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

// Access rights: only whether writing is allowed matters here.
constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

// Path of the registry file as described above.
[[nodiscard]] std::string RegistryFileName();

class TRegistry {
 public:
  explicit TRegistry(uint32_t access = KEY_ALL_ACCESS);
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;
  ~TRegistry() = default;

  [[nodiscard]] HKEY RootKey() const { return root_; }
  void SetRootKey(HKEY root);  // closes the current key
  [[nodiscard]] uint32_t Access() const { return access_; }
  void SetAccess(uint32_t access) { access_ = access; }
  // "Software\\Policies" without leading or trailing "\\"; "" when no key is open.
  [[nodiscard]] const std::string& CurrentPath() const { return current_path_; }

  // `key` is relative to the current key unless it starts with "\\". With
  // `can_create` a missing key is created (and its parents). False when the key is
  // missing, or cannot be created.
  bool OpenKey(const std::string& key, bool can_create);
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  bool CreateKey(const std::string& key);
  // Removes the key with its values and sub-keys.
  bool DeleteKey(const std::string& key);
  [[nodiscard]] bool KeyExists(const std::string& key);
  void GetKeyNames(TStringList& strings);
  void GetValueNames(TStringList& strings);

  [[nodiscard]] bool ValueExists(const std::string& name);
  bool DeleteValue(const std::string& name);
  [[nodiscard]] TRegDataType GetDataType(const std::string& name);
  // Bytes of the value's data (strings count their terminating NUL); -1 when missing.
  [[nodiscard]] int GetDataSize(const std::string& name);

  // "" when missing; throws "Invalid data type for '<name>'" for a non-string.
  [[nodiscard]] std::string ReadString(const std::string& name);
  // Throws "Failed to get data for '<name>'" when missing and "Invalid data type for
  // '<name>'" for a non-DWORD.
  [[nodiscard]] int32_t ReadInteger(const std::string& name);
  // Any value's raw bytes (a DWORD gives 4 little-endian bytes); missing throws.
  [[nodiscard]] std::vector<uint8_t> ReadBinaryData(const std::string& name);

  // Each throws "Failed to set data for '<name>'" when no key is open for writing or
  // the file cannot be written.
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  void WriteBinaryData(const std::string& name, const std::vector<uint8_t>& data);

 private:
  std::string FullPath(const std::string& key) const;
  bool Writable() const;

  HKEY root_ = HKEY_CURRENT_USER;
  uint32_t access_ = KEY_ALL_ACCESS;
  bool open_ = false;
  bool open_read_only_ = false;
  std::string current_path_;
};

}  // namespace qv
