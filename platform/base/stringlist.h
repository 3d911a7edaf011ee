// The class library's string list: an ordered list of strings, each with an
// optional object pointer, that can be kept sorted, read as "name=value" pairs,
// joined as comma text or lines, and loaded from and saved to files. The list never
// owns the objects. Not thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/exception.h"

namespace qv {

// "List index out of bounds (%d)", "String list does not allow duplicates",
// "Operation not allowed on sorted list".
class EStringListError : public Exception {
 public:
  using Exception::Exception;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

enum class TTextEncoding { Utf8, Cp1252, Latin1 };

class TStringList {
 public:
  TStringList() = default;
  TStringList(const TStringList&) = default;
  TStringList& operator=(const TStringList&) = default;
  virtual ~TStringList() = default;

  [[nodiscard]] int Count() const { return int(items_.size()); }
  [[nodiscard]] const std::string& Strings(int index) const;
  [[nodiscard]] const std::string& operator[](int index) const { return Strings(index); }
  // Throws EStringListError on a sorted list.
  void SetStrings(int index, std::string value);
  [[nodiscard]] void* Objects(int index) const;
  void SetObjects(int index, void* object);

  // Adds at the end, or at the sorted place when Sorted; returns the index. With
  // Sorted and a duplicate, dupIgnore returns the existing index, dupError throws.
  int Add(std::string s);
  int AddObject(std::string s, void* object);
  void AddStrings(const TStringList& other);
  // Throws EStringListError on a sorted list.
  void Insert(int index, std::string s);
  void InsertObject(int index, std::string s, void* object);
  void Delete(int index);
  void Exchange(int index1, int index2);
  void Move(int from, int to);
  void Clear() { items_.clear(); }
  void Assign(const TStringList& other) { *this = other; }

  // -1 when absent. Comparison follows CaseSensitive (default: ASCII case ignored).
  [[nodiscard]] int IndexOf(std::string_view s) const;
  [[nodiscard]] int IndexOfObject(const void* object) const;
  // Binary search on a sorted list (a linear search otherwise): true when found;
  // `index` is the match or where `s` would go.
  bool Find(std::string_view s, int& index) const;

  [[nodiscard]] bool Sorted() const { return sorted_; }
  void SetSorted(bool value);
  void Sort();
  // `compare` returns <0, 0, >0 for the items at the two indexes. Stable.
  void CustomSort(const std::function<int(const TStringList&, int, int)>& compare);
  [[nodiscard]] TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates value) { duplicates_ = value; }
  [[nodiscard]] bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool value);

  // "name=value" items: the name is what comes before the first NameValueSeparator.
  [[nodiscard]] std::string Names(int index) const;
  [[nodiscard]] std::string ValueFromIndex(int index) const;
  // The value of the first item whose name matches, "" when none does.
  [[nodiscard]] std::string Values(std::string_view name) const;
  // Replaces the first match, appends when none; an empty value deletes the item.
  void SetValues(std::string_view name, std::string_view value);
  [[nodiscard]] int IndexOfName(std::string_view name) const;
  char NameValueSeparator = '=';

  // Items joined by Delimiter, quoted with QuoteChar when they hold a blank, a
  // control character, the delimiter or the quote (quotes doubled inside).
  [[nodiscard]] std::string DelimitedText() const;
  // Splits as the class library does: blanks separate items too unless
  // StrictDelimiter is set; quoted parts keep blanks and delimiters.
  void SetDelimitedText(std::string_view text);
  [[nodiscard]] std::string CommaText() const;
  void SetCommaText(std::string_view text);
  char Delimiter = ',';
  char QuoteChar = '"';
  bool StrictDelimiter = false;

  // Each item followed by LineBreak (LF by default; set "\r\n" for CR/LF).
  [[nodiscard]] std::string Text() const;
  // Splits at CR/LF, LF or CR; a final line break adds no empty item.
  void SetText(std::string_view text);
  std::string LineBreak = "\n";

  // Reads the file as UTF-8 when it is valid UTF-8 (a byte-order mark is skipped),
  // else as Windows-1252. Throws EFOpenError when it cannot be read.
  // Throws EFOpenError for a file larger than `max_bytes`.
  void LoadFromFile(const std::string& file_name, int64_t max_bytes = int64_t(1) << 31);
  // Writes Text in `encoding` by way of a temporary file (nothing half-written).
  void SaveToFile(const std::string& file_name, TTextEncoding encoding = TTextEncoding::Utf8) const;

 private:
  struct Item {
    std::string text;
    void* object = nullptr;
  };
  [[nodiscard]] int Compare(std::string_view a, std::string_view b) const;
  void CheckIndex(int index, bool allow_end = false) const;

  std::vector<Item> items_;
  bool sorted_ = false;
  bool case_sensitive_ = false;
  TDuplicates duplicates_ = dupIgnore;
};

using TStrings = TStringList;

}  // namespace qv
