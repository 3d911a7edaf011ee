// INI files with the platform's look-up rules:
// - sections and keys match without regard to (ASCII) case; keys and values are
//   trimmed; the first section of a name and the first key of a name win;
// - a missing file, section or key gives the default; ReadInteger takes decimal,
//   "$hex" or "0xhex" and gives the default for anything else;
// - lines starting with ';' are comments; lines that are neither "[section]" nor
//   "key=value" are ignored, and so are keys after a malformed "[section" line
//   until the next good header, and keys before the first section;
// - the file is read as UTF-8 when it is valid UTF-8 (a byte-order mark is skipped),
//   else as Windows-1252; a file that cannot be read reads as empty (`ReadError` says why).
// Writes go out as UTF-8 by way of a temporary file, keeping comments and unknown
// lines and the byte-order mark when the file had one. Objects are not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/exception.h"

namespace qv {

class TStringList;
struct IniData;

// Thrown when a write cannot be saved ("Unable to write to <file>").
class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

class TCustomIniFile {
 public:
  explicit TCustomIniFile(std::string file_name);
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;
  virtual ~TCustomIniFile();

  [[nodiscard]] const std::string& FileName() const { return file_name_; }
  // Why a file that exists read as empty (too large, a folder, no permission); "" when it
  // was read or does not exist.
  [[nodiscard]] std::string ReadError();

  [[nodiscard]] std::string ReadString(const std::string& section, const std::string& ident,
                                       const std::string& default_value);
  [[nodiscard]] int32_t ReadInteger(const std::string& section, const std::string& ident,
                                    int32_t default_value);
  // A number: non-zero is true; anything else gives the default.
  [[nodiscard]] bool ReadBool(const std::string& section, const std::string& ident,
                              bool default_value);
  // Section names in file order, each once.
  void ReadSections(TStringList& strings);
  // Key names of the section, in file order, each once.
  void ReadSection(const std::string& section, TStringList& strings);
  // "key=value" for each key of the section.
  void ReadSectionValues(const std::string& section, TStringList& strings);
  [[nodiscard]] bool SectionExists(const std::string& section);
  [[nodiscard]] bool ValueExists(const std::string& section, const std::string& ident);

  void WriteString(const std::string& section, const std::string& ident, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& ident, int32_t value);
  void WriteBool(const std::string& section, const std::string& ident, bool value);
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& ident);
  // Saves pending changes (TMemIniFile); TIniFile saves at every write.
  virtual void UpdateFile() = 0;

 protected:
  // The data to read from; TIniFile re-reads the file each time.
  virtual IniData& Data() = 0;
  // Called after every change to the data.
  virtual void Changed() = 0;
  void Save(const IniData& data);

 private:
  std::string file_name_;
};

// Reads the file once at construction; writes stay in memory until UpdateFile.
class TMemIniFile final : public TCustomIniFile {
 public:
  explicit TMemIniFile(const std::string& file_name);
  ~TMemIniFile() override;
  void UpdateFile() override;

 protected:
  IniData& Data() override { return *data_; }
  void Changed() override { dirty_ = true; }

 private:
  std::unique_ptr<IniData> data_;
  bool dirty_ = false;
};

// Reads the file at every call and writes it at every change, like the platform's
// profile functions.
class TIniFile final : public TCustomIniFile {
 public:
  explicit TIniFile(const std::string& file_name);
  ~TIniFile() override;
  void UpdateFile() override {}

 protected:
  IniData& Data() override;
  void Changed() override;

 private:
  std::unique_ptr<IniData> data_;
};

}  // namespace qv
