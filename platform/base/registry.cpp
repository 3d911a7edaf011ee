#include "platform/base/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

#include "platform/base/paths.h"
#include "platform/base/streams.h"
#include "platform/base/stringlist.h"
#include "platform/base/text.h"

namespace qv {
namespace {

constexpr int kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4;
constexpr int64_t kMaxRegistryBytes = 64 << 20;
constexpr const char* kHeaderLine = "Windows Registry Editor Version 5.00";

struct RegValue {
  bool raw_only = false;  // a line we could not read, kept as it was
  std::string raw;
  std::string name;  // "" is the key's default value ("@")
  int type = kRegSz;
  std::vector<uint8_t> data;  // REG_SZ: UTF-8 text without NUL; REG_DWORD: 4 bytes LE
};

struct RegKey {
  std::string path;  // "HKEY_CURRENT_USER\Software\..."
  std::vector<RegValue> values;
};

// True when `path` names a key somewhere below `key` (key names ignore case).
bool IsBelow(std::string_view path, std::string_view key) {
  return path.size() > key.size() && path[key.size()] == '\\' &&
         SameText(path.substr(0, key.size()), key);
}

struct RegData {
  std::vector<std::string> preamble;
  std::vector<RegKey> keys;

  RegKey* Find(std::string_view path) {
    for (RegKey& k : keys)
      if (SameText(k.path, path)) return &k;
    return nullptr;
  }
  // A key exists when it was written, or when a key below it was.
  bool Exists(std::string_view path) const {
    for (const RegKey& k : keys) {
      if (SameText(k.path, path)) return true;
      if (IsBelow(k.path, path)) return true;
    }
    return false;
  }
  static RegValue* FindValue(RegKey& key, std::string_view name) {
    for (RegValue& v : key.values)
      if (!v.raw_only && SameText(v.name, name)) return &v;
    return nullptr;
  }
};

const char* RootName(HKEY root) {
  switch (root) {
    case HKEY_CLASSES_ROOT:
      return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER:
      return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE:
      return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS:
      return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG:
      return "HKEY_CURRENT_CONFIG";
    default:
      return nullptr;
  }
}

// "a\\\\b\\" -> "a\\b": no empty parts, no leading or trailing separator.
std::string CleanKeyPath(std::string_view path) {
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) {
      if (!out.empty()) out += '\\';
      out += path.substr(start, end - start);
    }
    start = end + 1;
  }
  return out;
}

// Reads a quoted string at `p` (on the opening quote); false when malformed.
bool ParseQuoted(std::string_view line, size_t& p, std::string& out) {
  if (p >= line.size() || line[p] != '"') return false;
  ++p;
  out.clear();
  while (p < line.size()) {
    const char c = line[p++];
    if (c == '"') return true;
    if (c == '\\') {
      if (p >= line.size()) return false;
      out += line[p++];
    } else {
      out += c;
    }
  }
  return false;
}

bool ParseHexBytes(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  const std::string t = Trim(text);
  if (t.empty()) return true;
  size_t start = 0;
  while (start <= t.size()) {
    size_t end = t.find(',', start);
    if (end == std::string::npos) end = t.size();
    const std::string byte = Trim(std::string_view(t).substr(start, end - start));
    int32_t v;
    if (byte.empty() || byte.size() > 2 || !TryStrToInt("$" + byte, v)) return false;
    out.push_back(uint8_t(v));
    start = end + 1;
  }
  return true;
}

bool ParseValue(std::string_view line, RegValue& value) {
  size_t p = 0;
  if (line.substr(0, 1) == "@") {
    value.name.clear();
    p = 1;
  } else if (!ParseQuoted(line, p, value.name)) {
    return false;
  }
  while (p < line.size() && line[p] == ' ') ++p;
  if (p >= line.size() || line[p] != '=') return false;
  ++p;
  while (p < line.size() && line[p] == ' ') ++p;
  const std::string_view data = line.substr(p);
  if (!data.empty() && data[0] == '"') {
    std::string text;
    size_t q = p;
    if (!ParseQuoted(line, q, text) || !Trim(line.substr(q)).empty()) return false;
    value.type = kRegSz;
    value.data.assign(text.begin(), text.end());
    return true;
  }
  if (data.substr(0, 6) == "dword:") {
    const std::string digits = Trim(data.substr(6));
    int32_t v;
    if (digits.empty() || digits.size() > 8 || digits[0] == '-' || digits[0] == '+' ||
        !TryStrToInt("$" + digits, v))
      return false;
    value.type = kRegDword;
    const auto u = uint32_t(v);
    value.data = {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
    return true;
  }
  if (data.substr(0, 4) == "hex:") {
    value.type = kRegBinary;
    return ParseHexBytes(data.substr(4), value.data);
  }
  if (data.substr(0, 4) == "hex(") {
    const auto close = data.find("):");
    int32_t type;
    if (close == std::string_view::npos ||
        !TryStrToInt("$" + std::string(data.substr(4, close - 4)), type) || type < 0)
      return false;
    value.type = type;
    return ParseHexBytes(data.substr(close + 2), value.data);
  }
  return false;
}

RegData Parse(std::string_view bytes) {
  RegData data;
  const std::string text = ToUtf8Auto(bytes);
  std::vector<std::string> lines;
  {
    TStringList list;
    list.SetText(text);
    for (int i = 0; i < list.Count(); ++i) lines.push_back(list[i]);
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    // "hex:" data may go on over lines ending in "\".
    while (!TrimRight(line).empty() && TrimRight(line).back() == '\\' &&
           line.find("=hex") != std::string::npos && i + 1 < lines.size()) {
      line = TrimRight(line);
      line.pop_back();
      line += Trim(lines[++i]);
    }
    const std::string t = Trim(line);
    if (!t.empty() && t.front() == '[' && t.back() == ']') {
      RegKey key;
      key.path = CleanKeyPath(std::string_view(t).substr(1, t.size() - 2));
      if (key.path.empty() || key.path[0] == '-') {
        // A deletion entry or an empty name: a section nobody can open, kept as it was.
        key.path.clear();
        RegValue raw;
        raw.raw_only = true;
        raw.raw = line;
        key.values.push_back(std::move(raw));
      }
      data.keys.push_back(std::move(key));
      continue;
    }
    if (data.keys.empty()) {
      data.preamble.push_back(line);
      continue;
    }
    RegValue value;
    if (t.empty() || !ParseValue(t, value)) {
      value = RegValue{};
      value.raw_only = true;
      value.raw = line;
    }
    data.keys.back().values.push_back(std::move(value));
  }
  return data;
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string HexList(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ',';
    out += LowerCase(IntToHex(bytes[i], 2));
  }
  return out;
}

std::string Serialize(const RegData& data) {
  std::string out;
  if (data.preamble.empty()) {
    out += std::string(kHeaderLine) + "\n\n";
  } else {
    for (const auto& line : data.preamble) out += line + "\n";
  }
  for (const RegKey& key : data.keys) {
    if (!key.path.empty()) out += "[" + key.path + "]\n";
    for (const RegValue& v : key.values) {
      if (v.raw_only) {
        out += v.raw + "\n";
        continue;
      }
      out += v.name.empty() ? std::string("@") : Quote(v.name);
      out += '=';
      const std::string_view text(reinterpret_cast<const char*>(v.data.data()), v.data.size());
      // Text that is not UTF-8 or holds a line break or NUL would not read back as the same
      // bytes (nor leave the rest of the file as it was): such a string is kept as hex(1).
      if (v.type == kRegSz && IsValidUtf8(text) &&
          text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos) {
        out += Quote(text);
      } else if (v.type == kRegDword && v.data.size() == 4) {
        const uint32_t u =
            v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (uint32_t(v.data[3]) << 24);
        out += "dword:" + LowerCase(IntToHex(u, 8));
      } else if (v.type == kRegBinary) {
        out += "hex:" + HexList(v.data);
      } else {
        out += "hex(" + LowerCase(IntToHex(uint32_t(v.type), 1)) + "):" + HexList(v.data);
      }
      out += '\n';
    }
  }
  return out;
}

// The file as it is now. `for_write` makes an unreadable file an error instead of
// an empty registry.
RegData Load(const std::string& file_name, bool for_write) {
  struct stat st {};
  if (::stat(file_name.c_str(), &st) != 0 && errno == ENOENT) return RegData{};
  try {
    return Parse(ReadFileBytes(file_name, kMaxRegistryBytes));
  } catch (const Exception&) {
    if (for_write) throw;
    return RegData{};
  }
}

// Holds flock on "<file>.lock" for one read-change-write.
class RegistryLock {
 public:
  explicit RegistryLock(const std::string& file_name) {
    const std::string lock_name = file_name + ".lock";
    fd_ = ::open(lock_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) throw Exception("Cannot create file \"" + lock_name + "\"");
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        throw Exception("Cannot lock file \"" + lock_name + "\"");
      }
    }
  }
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;
  ~RegistryLock() { ::close(fd_); }

 private:
  int fd_ = -1;
};

// Reads, lets `change` edit, writes when it reports a change. Throws on failure.
void Modify(const std::function<bool(RegData&)>& change) {
  const std::string file_name = RegistryFileName();
  const std::string folder = ExtractFilePath(file_name);
  if (!folder.empty() && !DirectoryExists(folder)) {
    ForceDirectories(folder);
  }
  RegistryLock lock(file_name);
  RegData data = Load(file_name, true);
  if (!change(data)) return;
  WriteFileAtomically(file_name, Serialize(data));
}

// Modify for the calls that report a failed write as false.
bool TryModify(const std::function<bool(RegData&)>& change) {
  try {
    Modify(change);
  } catch (const Exception&) {
    return false;
  }
  return true;
}

// Writes the key unless it exists already; false when the file cannot be written.
bool AddKey(const std::string& full) {
  return TryModify([&](RegData& data) {
    if (data.Exists(full)) return false;
    data.keys.push_back(RegKey{full, {}});
    return true;
  });
}

std::string Utf16LeToUtf8(const std::vector<uint8_t>& bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t u = char16_t(bytes[i] | (bytes[i + 1] << 8));
    if (u == 0) break;
    units += u;
  }
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

}  // namespace

std::string RegistryFileName() {
  if (const char* over = std::getenv("QUORVEL_REGISTRY"); over != nullptr && *over != '\0')
    return NormalizePath(over);
  // Relative XDG values are to be ignored, as the base-directory rules say.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
    return IncludeTrailingPathDelimiter(xdg) + "quorvel/registry.reg";
  std::string home;
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    home = h;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  } else {
    home = "/";
  }
  return IncludeTrailingPathDelimiter(home) + ".config/quorvel/registry.reg";
}

TRegistry::TRegistry(uint32_t access) : access_(access) {}

void TRegistry::SetRootKey(HKEY root) {
  CloseKey();
  root_ = root;
}

void TRegistry::CloseKey() {
  open_ = false;
  open_read_only_ = false;
  current_path_.clear();
}

bool TRegistry::Writable() const {
  return open_ && !open_read_only_ && (access_ & 0x2) != 0;
}

std::string TRegistry::FullPath(const std::string& key) const {
  const char* root = RootName(root_);
  if (root == nullptr) return std::string();
  // Key names cannot hold what would break the file's "[...]" lines.
  if (std::any_of(key.begin(), key.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == ']'; }))
    return std::string();
  std::string relative;
  if (!key.empty() && key[0] == '\\') {
    relative = CleanKeyPath(key);
  } else if (open_ && !current_path_.empty()) {
    relative = CleanKeyPath(current_path_ + "\\" + key);
  } else {
    relative = CleanKeyPath(key);
  }
  return relative.empty() ? std::string(root) : std::string(root) + "\\" + relative;
}

bool TRegistry::OpenKey(const std::string& key, bool can_create) {
  const std::string full = FullPath(key);
  if (full.empty()) return false;
  const std::string relative =
      full.find('\\') == std::string::npos ? "" : full.substr(full.find('\\') + 1);
  bool exists = relative.empty() || Load(RegistryFileName(), false).Exists(full);
  if (!exists) {
    if (!can_create || (access_ & 0x4) == 0 || !AddKey(full)) return false;
  }
  open_ = true;
  open_read_only_ = false;
  current_path_ = relative;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  const std::string full = FullPath(key);
  if (full.empty()) return false;
  const std::string relative =
      full.find('\\') == std::string::npos ? "" : full.substr(full.find('\\') + 1);
  if (!relative.empty() && !Load(RegistryFileName(), false).Exists(full)) return false;
  open_ = true;
  open_read_only_ = true;
  current_path_ = relative;
  return true;
}

bool TRegistry::CreateKey(const std::string& key) {
  const std::string full = FullPath(key);
  if (full.empty() || full.find('\\') == std::string::npos) return false;
  return AddKey(full);
}

bool TRegistry::DeleteKey(const std::string& key) {
  const std::string full = FullPath(key);
  if (full.empty() || full.find('\\') == std::string::npos) return false;
  bool removed = false;
  const bool written = TryModify([&](RegData& data) {
    const auto before = data.keys.size();
    std::erase_if(data.keys,
                  [&](const RegKey& k) { return SameText(k.path, full) || IsBelow(k.path, full); });
    removed = data.keys.size() != before;
    return removed;
  });
  return written && removed;
}

bool TRegistry::KeyExists(const std::string& key) {
  const std::string full = FullPath(key);
  if (full.empty()) return false;
  return full.find('\\') == std::string::npos || Load(RegistryFileName(), false).Exists(full);
}

void TRegistry::GetKeyNames(TStringList& strings) {
  strings.Clear();
  if (!open_) return;
  const std::string full = FullPath("\\" + current_path_);
  const RegData data = Load(RegistryFileName(), false);
  for (const RegKey& k : data.keys) {
    // A key written with a trailing separator names no child.
    if (!IsBelow(k.path, full) || k.path.size() == full.size() + 1) continue;
    const std::string rest = k.path.substr(full.size() + 1);
    const std::string child = rest.substr(0, rest.find('\\'));
    bool seen = false;
    for (int i = 0; i < strings.Count() && !seen; ++i) seen = SameText(strings[i], child);
    if (!seen) strings.Add(child);
  }
}

void TRegistry::GetValueNames(TStringList& strings) {
  strings.Clear();
  if (!open_) return;
  RegData data = Load(RegistryFileName(), false);
  RegKey* key = data.Find(FullPath("\\" + current_path_));
  if (key == nullptr) return;
  for (const RegValue& v : key->values)
    if (!v.raw_only) strings.Add(v.name);
}

namespace {
// A copy of the named value of the open key, if there is one.
bool GetValue(bool open, const std::string& full, const std::string& name, RegValue& out) {
  if (!open) return false;
  RegData data = Load(RegistryFileName(), false);
  RegKey* key = data.Find(full);
  if (key == nullptr) return false;
  RegValue* v = RegData::FindValue(*key, name);
  if (v == nullptr) return false;
  out = *v;
  return true;
}
}  // namespace

bool TRegistry::ValueExists(const std::string& name) {
  RegValue v;
  return GetValue(open_, FullPath("\\" + current_path_), name, v);
}

bool TRegistry::DeleteValue(const std::string& name) {
  if (!Writable()) return false;
  const std::string full = FullPath("\\" + current_path_);
  bool removed = false;
  const bool written = TryModify([&](RegData& data) {
    RegKey* key = data.Find(full);
    if (key == nullptr) return false;
    removed = std::erase_if(key->values, [&](const RegValue& v) {
                return !v.raw_only && SameText(v.name, name);
              }) != 0;
    return removed;
  });
  return written && removed;
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
  RegValue v;
  if (!GetValue(open_, FullPath("\\" + current_path_), name, v)) return rdUnknown;
  switch (v.type) {
    case kRegSz:
      return rdString;
    case kRegExpandSz:
      return rdExpandString;
    case kRegDword:
      return v.data.size() == 4 ? rdInteger : rdUnknown;
    case kRegBinary:
      return rdBinary;
    default:
      return rdUnknown;
  }
}

int TRegistry::GetDataSize(const std::string& name) {
  RegValue v;
  if (!GetValue(open_, FullPath("\\" + current_path_), name, v)) return -1;
  return int(v.data.size()) + (v.type == kRegSz ? 1 : 0);
}

std::string TRegistry::ReadString(const std::string& name) {
  RegValue v;
  if (!GetValue(open_, FullPath("\\" + current_path_), name, v)) return std::string();
  if (v.type == kRegSz) return std::string(v.data.begin(), v.data.end());
  if (v.type == kRegExpandSz) return Utf16LeToUtf8(v.data);
  throw ERegistryException("Invalid data type for '" + name + "'");
}

int32_t TRegistry::ReadInteger(const std::string& name) {
  RegValue v;
  if (!GetValue(open_, FullPath("\\" + current_path_), name, v))
    throw ERegistryException("Failed to get data for '" + name + "'");
  if (v.type != kRegDword || v.data.size() != 4)
    throw ERegistryException("Invalid data type for '" + name + "'");
  return int32_t(uint32_t(v.data[0]) | (uint32_t(v.data[1]) << 8) | (uint32_t(v.data[2]) << 16) |
                 (uint32_t(v.data[3]) << 24));
}

std::vector<uint8_t> TRegistry::ReadBinaryData(const std::string& name) {
  RegValue v;
  if (!GetValue(open_, FullPath("\\" + current_path_), name, v))
    throw ERegistryException("Failed to get data for '" + name + "'");
  if (v.type == kRegSz) v.data.push_back(0);
  return v.data;
}

namespace {
void SetValue(bool writable, const std::string& full, const std::string& name, int type,
              std::vector<uint8_t> bytes) {
  const std::string failed = "Failed to set data for '" + name + "'";
  if (!writable) throw ERegistryException(failed);
  try {
    Modify([&](RegData& data) {
      RegKey* key = data.Find(full);
      if (key == nullptr) {
        data.keys.push_back(RegKey{full, {}});
        key = &data.keys.back();
      }
      RegValue* v = RegData::FindValue(*key, name);
      if (v == nullptr) {
        key->values.push_back(RegValue{});
        v = &key->values.back();
        v->name = name;
      }
      v->type = type;
      v->data = std::move(bytes);
      return true;
    });
  } catch (const Exception&) {
    throw ERegistryException(failed);
  }
}
}  // namespace

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  // The file format has no escape for line breaks or NUL in a quoted string.
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos ||
      name.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw ERegistryException("Failed to set data for '" + name + "'");
  SetValue(Writable(), FullPath("\\" + current_path_), name, kRegSz,
           std::vector<uint8_t>(value.begin(), value.end()));
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
  const auto u = uint32_t(value);
  SetValue(Writable(), FullPath("\\" + current_path_), name, kRegDword,
           {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)});
}

void TRegistry::WriteBinaryData(const std::string& name, const std::vector<uint8_t>& data) {
  SetValue(Writable(), FullPath("\\" + current_path_), name, kRegBinary, data);
}

}  // namespace qv
