#include "platform/base/inifile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/base/streams.h"
#include "platform/base/stringlist.h"
#include "platform/base/text.h"

namespace qv {

struct IniEntry {
  bool is_key = false;
  std::string key;
  std::string value;
  std::string raw;  // the line as read; rebuilt when the value changes
};

struct IniSection {
  // The first section holds the lines before any header and has no header itself.
  bool has_header = false;
  // False for the lines before the first header and for a malformed header: their
  // keys are kept in the file but never found.
  bool valid = false;
  std::string name;
  std::string raw_header;
  std::vector<IniEntry> entries;
};

struct IniData {
  std::vector<IniSection> sections{IniSection{}};
  std::string line_break = "\n";
  // The file exists but could not be read: writing would lose its contents.
  bool unreadable = false;
  std::string read_error;  // why, for the caller to report
  // The file began with a byte-order mark; it is written back, or a second mark at the
  // start of the text would be taken for one on the next read.
  bool bom = false;

  IniSection* FindSection(std::string_view name) {
    for (IniSection& s : sections)
      if (s.valid && SameText(s.name, name)) return &s;
    return nullptr;
  }
  static IniEntry* FindEntry(IniSection& section, std::string_view key) {
    for (IniEntry& e : section.entries)
      if (e.is_key && SameText(e.key, key)) return &e;
    return nullptr;
  }
};

namespace {

// Larger configuration files are not ours; they read as empty.
constexpr int64_t kMaxIniBytes = 16 << 20;

IniData Parse(std::string_view bytes) {
  IniData data;
  if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) {
    bytes.remove_prefix(3);
    data.bom = true;
  }
  const std::string text = ToUtf8Auto(bytes);
  const auto first_break = text.find_first_of("\r\n");
  if (first_break != std::string::npos && text[first_break] == '\r') data.line_break = "\r\n";

  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end;
    if (start < text.size() && text[start] == '\r') {
      ++start;
      if (start < text.size() && text[start] == '\n') ++start;
    } else if (start < text.size()) {
      ++start;
    }

    const std::string t = Trim(line);
    if (!t.empty() && t[0] == '[') {
      IniSection section;
      section.has_header = true;
      section.raw_header = line;
      const auto close = t.find(']');
      if (close != std::string::npos) {
        section.name = Trim(std::string_view(t).substr(1, close - 1));
        section.valid = true;
      }
      data.sections.push_back(std::move(section));
      continue;
    }
    IniEntry entry;
    entry.raw = line;
    const auto eq = t.find('=');
    if (!t.empty() && t[0] != ';' && eq != std::string::npos) {
      entry.key = Trim(std::string_view(t).substr(0, eq));
      entry.value = Trim(std::string_view(t).substr(eq + 1));
      entry.is_key = !entry.key.empty();
    }
    data.sections.back().entries.push_back(std::move(entry));
  }
  return data;
}

IniData Load(const std::string& file_name) {
  try {
    return Parse(ReadFileBytes(file_name, kMaxIniBytes));
  } catch (const Exception& e) {
    // Missing or unreadable configuration reads as empty, so every look-up gives
    // its default, as the platform's profile functions do.
    IniData empty;
    struct stat st {};
    empty.unreadable = ::stat(file_name.c_str(), &st) == 0 || errno != ENOENT;
    if (empty.unreadable) empty.read_error = e.what();
    return empty;
  }
}

std::string Serialize(const IniData& data) {
  std::string out = data.bom ? "\xEF\xBB\xBF" : "";
  for (const IniSection& s : data.sections) {
    if (s.has_header) out += s.raw_header + data.line_break;
    for (const IniEntry& e : s.entries) out += e.raw + data.line_break;
  }
  return out;
}

void CheckWritable(std::string_view text, bool is_name) {
  const bool bad = text.find_first_of("\r\n") != std::string_view::npos ||
                   text.find('\0') != std::string_view::npos ||
                   (is_name && (text.find(']') != std::string_view::npos ||
                                text.find('=') != std::string_view::npos || Trim(text).empty()));
  if (bad) throw EIniFileException("Invalid INI entry \"" + std::string(text) + "\"");
}

}  // namespace

TCustomIniFile::TCustomIniFile(std::string file_name) : file_name_(std::move(file_name)) {}
TCustomIniFile::~TCustomIniFile() = default;

std::string TCustomIniFile::ReadError() {
  return Data().read_error;
}

std::string TCustomIniFile::ReadString(const std::string& section, const std::string& ident,
                                       const std::string& default_value) {
  IniSection* s = Data().FindSection(section);
  if (s == nullptr) return default_value;
  IniEntry* e = IniData::FindEntry(*s, ident);
  return e == nullptr ? default_value : e->value;
}

int32_t TCustomIniFile::ReadInteger(const std::string& section, const std::string& ident,
                                    int32_t default_value) {
  return StrToIntDef(ReadString(section, ident, ""), default_value);
}

bool TCustomIniFile::ReadBool(const std::string& section, const std::string& ident,
                              bool default_value) {
  return ReadInteger(section, ident, default_value ? 1 : 0) != 0;
}

void TCustomIniFile::ReadSections(TStringList& strings) {
  strings.Clear();
  for (const IniSection& s : Data().sections) {
    if (!s.valid) continue;
    bool seen = false;
    for (int i = 0; i < strings.Count() && !seen; ++i) seen = SameText(strings[i], s.name);
    if (!seen) strings.Add(s.name);
  }
}

void TCustomIniFile::ReadSection(const std::string& section, TStringList& strings) {
  strings.Clear();
  IniSection* s = Data().FindSection(section);
  if (s == nullptr) return;
  for (const IniEntry& e : s->entries) {
    if (!e.is_key || IniData::FindEntry(*s, e.key) != &e) continue;
    strings.Add(e.key);
  }
}

void TCustomIniFile::ReadSectionValues(const std::string& section, TStringList& strings) {
  strings.Clear();
  IniSection* s = Data().FindSection(section);
  if (s == nullptr) return;
  for (const IniEntry& e : s->entries) {
    if (!e.is_key || IniData::FindEntry(*s, e.key) != &e) continue;
    strings.Add(e.key + "=" + e.value);
  }
}

bool TCustomIniFile::SectionExists(const std::string& section) {
  return Data().FindSection(section) != nullptr;
}

bool TCustomIniFile::ValueExists(const std::string& section, const std::string& ident) {
  IniSection* s = Data().FindSection(section);
  return s != nullptr && IniData::FindEntry(*s, ident) != nullptr;
}

void TCustomIniFile::WriteString(const std::string& section, const std::string& ident,
                                 const std::string& value) {
  CheckWritable(section, true);
  CheckWritable(ident, true);
  CheckWritable(value, false);
  IniData& data = Data();
  IniSection* s = data.FindSection(section);
  if (s == nullptr) {
    IniSection added;
    added.has_header = true;
    added.valid = true;
    added.name = Trim(section);
    added.raw_header = "[" + added.name + "]";
    data.sections.push_back(std::move(added));
    s = &data.sections.back();
  }
  IniEntry* e = IniData::FindEntry(*s, ident);
  if (e != nullptr) {
    e->value = Trim(value);
    e->raw = e->key + "=" + value;
  } else {
    IniEntry added;
    added.is_key = true;
    added.key = Trim(ident);
    added.value = Trim(value);
    added.raw = added.key + "=" + value;
    // After the section's last key, so the blank lines that part it from the next
    // section stay at its end.
    size_t pos = 0;
    for (size_t i = 0; i < s->entries.size(); ++i)
      if (s->entries[i].is_key) pos = i + 1;
    s->entries.insert(s->entries.begin() + ptrdiff_t(pos), std::move(added));
  }
  Changed();
}

void TCustomIniFile::WriteInteger(const std::string& section, const std::string& ident,
                                  int32_t value) {
  WriteString(section, ident, IntToStr(value));
}

void TCustomIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

void TCustomIniFile::EraseSection(const std::string& section) {
  IniData& data = Data();
  const auto before = data.sections.size();
  std::erase_if(data.sections,
                [&](const IniSection& s) { return s.valid && SameText(s.name, section); });
  if (data.sections.size() != before) Changed();
}

void TCustomIniFile::DeleteKey(const std::string& section, const std::string& ident) {
  IniSection* s = Data().FindSection(section);
  if (s == nullptr) return;
  const auto removed = std::erase_if(
      s->entries, [&](const IniEntry& e) { return e.is_key && SameText(e.key, ident); });
  if (removed != 0) Changed();
}

void TCustomIniFile::Save(const IniData& data) {
  if (data.unreadable) throw EIniFileException("Unable to write to " + file_name_);
  try {
    WriteFileAtomically(file_name_, Serialize(data));
  } catch (const Exception& e) {
    throw EIniFileException("Unable to write to " + file_name_ + ": " + e.what());
  }
}

TMemIniFile::TMemIniFile(const std::string& file_name)
    : TCustomIniFile(file_name), data_(std::make_unique<IniData>(Load(file_name))) {}

TMemIniFile::~TMemIniFile() = default;

void TMemIniFile::UpdateFile() {
  if (!dirty_) return;
  Save(*data_);
  dirty_ = false;
}

TIniFile::TIniFile(const std::string& file_name)
    : TCustomIniFile(file_name), data_(std::make_unique<IniData>()) {}

TIniFile::~TIniFile() = default;

IniData& TIniFile::Data() {
  *data_ = Load(FileName());
  return *data_;
}

void TIniFile::Changed() {
  Save(*data_);
}

}  // namespace qv
