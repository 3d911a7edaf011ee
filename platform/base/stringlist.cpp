#include "platform/base/stringlist.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "platform/base/streams.h"
#include "platform/base/text.h"

namespace qv {

void TStringList::CheckIndex(int index, bool allow_end) const {
  const int limit = allow_end ? Count() : Count() - 1;
  if (index < 0 || index > limit)
    throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

int TStringList::Compare(std::string_view a, std::string_view b) const {
  if (case_sensitive_) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
  return CompareText(a, b);
}

const std::string& TStringList::Strings(int index) const {
  CheckIndex(index);
  return items_[size_t(index)].text;
}

void TStringList::SetStrings(int index, std::string value) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  CheckIndex(index);
  items_[size_t(index)].text = std::move(value);
}

void* TStringList::Objects(int index) const {
  CheckIndex(index);
  return items_[size_t(index)].object;
}

void TStringList::SetObjects(int index, void* object) {
  CheckIndex(index);
  items_[size_t(index)].object = object;
}

int TStringList::Add(std::string s) {
  return AddObject(std::move(s), nullptr);
}

int TStringList::AddObject(std::string s, void* object) {
  int index = Count();
  if (sorted_) {
    if (Find(s, index)) {
      if (duplicates_ == dupIgnore) return index;
      if (duplicates_ == dupError) throw EStringListError("String list does not allow duplicates");
      // dupAccept: after the equal run, so equal items keep their order of arrival.
      while (index < Count() && Compare(items_[size_t(index)].text, s) == 0) ++index;
    }
  }
  items_.insert(items_.begin() + index, Item{std::move(s), object});
  return index;
}

void TStringList::AddStrings(const TStringList& other) {
  const std::vector<Item> copy = other.items_;  // `other` may be this list
  for (const Item& item : copy) AddObject(item.text, item.object);
}

void TStringList::Insert(int index, std::string s) {
  InsertObject(index, std::move(s), nullptr);
}

void TStringList::InsertObject(int index, std::string s, void* object) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  CheckIndex(index, true);
  items_.insert(items_.begin() + index, Item{std::move(s), object});
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
}

void TStringList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(items_[size_t(index1)], items_[size_t(index2)]);
}

void TStringList::Move(int from, int to) {
  if (from == to) return;
  CheckIndex(from);
  CheckIndex(to);
  Item item = std::move(items_[size_t(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(item));
}

int TStringList::IndexOf(std::string_view s) const {
  if (sorted_) {
    int index;
    return Find(s, index) ? index : -1;
  }
  for (int i = 0; i < Count(); ++i)
    if (Compare(items_[size_t(i)].text, s) == 0) return i;
  return -1;
}

int TStringList::IndexOfObject(const void* object) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[size_t(i)].object == object) return i;
  return -1;
}

bool TStringList::Find(std::string_view s, int& index) const {
  if (!sorted_) {
    for (int i = 0; i < Count(); ++i) {
      if (Compare(items_[size_t(i)].text, s) == 0) {
        index = i;
        return true;
      }
    }
    index = Count();
    return false;
  }
  // Lower bound, so that the first of several equal items is found.
  int lo = 0, hi = Count();
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (Compare(items_[size_t(mid)].text, s) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  index = lo;
  return lo < Count() && Compare(items_[size_t(lo)].text, s) == 0;
}

void TStringList::SetSorted(bool value) {
  if (value == sorted_) return;
  if (value) Sort();
  sorted_ = value;
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& a, const Item& b) { return Compare(a.text, b.text) < 0; });
}

void TStringList::CustomSort(const std::function<int(const TStringList&, int, int)>& compare) {
  // Sort an index permutation, so the callback sees the list as it stands.
  std::vector<int> order(items_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return compare(*this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(items_.size());
  for (const int i : order) sorted.push_back(std::move(items_[size_t(i)]));
  items_ = std::move(sorted);
}

void TStringList::SetCaseSensitive(bool value) {
  if (value == case_sensitive_) return;
  case_sensitive_ = value;
  if (sorted_) Sort();
}

std::string TStringList::Names(int index) const {
  const std::string& s = Strings(index);
  const auto eq = s.find(NameValueSeparator);
  return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& s = Strings(index);
  const auto eq = s.find(NameValueSeparator);
  return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

int TStringList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& s = items_[size_t(i)].text;
    const auto eq = s.find(NameValueSeparator);
    if (eq != std::string::npos && Compare(std::string_view(s).substr(0, eq), name) == 0) return i;
  }
  return -1;
}

std::string TStringList::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValues(std::string_view name, std::string_view value) {
  const int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string item = std::string(name) + NameValueSeparator + std::string(value);
  if (i < 0) {
    Add(std::move(item));
  } else if (sorted_) {
    // The name decides the place and it did not change, but the value may move it
    // among items with the same name; re-add to keep the order right.
    Delete(i);
    Add(std::move(item));
  } else {
    items_[size_t(i)].text = std::move(item);
  }
}

std::string TStringList::DelimitedText() const {
  if (Count() == 1 && items_[0].text.empty()) return std::string(2, QuoteChar);
  std::string out;
  for (int i = 0; i < Count(); ++i) {
    const std::string& s = items_[size_t(i)].text;
    const bool quote = std::any_of(s.begin(), s.end(), [&](char c) {
      return (!StrictDelimiter && static_cast<unsigned char>(c) <= ' ') || c == QuoteChar ||
             c == Delimiter || c == '\0';
    });
    if (i > 0) out += Delimiter;
    if (!quote) {
      out += s;
      continue;
    }
    out += QuoteChar;
    for (const char c : s) {
      if (c == QuoteChar) out += QuoteChar;
      out += c;
    }
    out += QuoteChar;
  }
  return out;
}

void TStringList::SetDelimitedText(std::string_view text) {
  Clear();
  const auto blank = [&](size_t p) {
    return !StrictDelimiter && p < text.size() && text[p] != '\0' &&
           static_cast<unsigned char>(text[p]) <= ' ';
  };
  size_t p = 0;
  while (blank(p)) ++p;
  while (p < text.size()) {
    std::string item;
    if (text[p] == QuoteChar) {
      ++p;
      while (p < text.size()) {
        if (text[p] == QuoteChar) {
          if (p + 1 < text.size() && text[p + 1] == QuoteChar) {
            item += QuoteChar;
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
      // Text right after a closing quote belongs to the same item.
      while (p < text.size() && text[p] != Delimiter && !blank(p)) item += text[p++];
    } else {
      while (p < text.size() && text[p] != Delimiter && !blank(p)) item += text[p++];
    }
    Add(std::move(item));
    while (blank(p)) ++p;
    if (p < text.size() && text[p] == Delimiter) {
      if (p + 1 == text.size()) Add("");
      ++p;
      while (blank(p)) ++p;
    }
  }
}

std::string TStringList::CommaText() const {
  TStringList copy;
  copy.items_ = items_;
  return copy.DelimitedText();
}

void TStringList::SetCommaText(std::string_view text) {
  const char delimiter = Delimiter, quote = QuoteChar;
  const bool strict = StrictDelimiter;
  Delimiter = ',';
  QuoteChar = '"';
  StrictDelimiter = false;
  SetDelimitedText(text);
  Delimiter = delimiter;
  QuoteChar = quote;
  StrictDelimiter = strict;
}

std::string TStringList::Text() const {
  std::string out;
  for (const Item& item : items_) {
    out += item.text;
    out += LineBreak;
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  Clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    Add(std::string(text.substr(start, end - start)));
    if (end < text.size() && text[end] == '\r') {
      ++end;
      if (end < text.size() && text[end] == '\n') ++end;
    } else if (end < text.size()) {
      ++end;
    }
    start = end;
  }
}

void TStringList::LoadFromFile(const std::string& file_name, int64_t max_bytes) {
  std::string bytes = ReadFileBytes(file_name, max_bytes);
  if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) bytes.erase(0, 3);
  SetText(ToUtf8Auto(bytes));
}

void TStringList::SaveToFile(const std::string& file_name, TTextEncoding encoding) const {
  std::string text = Text();
  if (encoding == TTextEncoding::Cp1252) text = Utf8ToCp1252(text);
  if (encoding == TTextEncoding::Latin1) text = Utf8ToLatin1(text);
  WriteFileAtomically(file_name, text);
}

}  // namespace qv
