// Splitting a demangled C++ function name into its scope and the rest, so that the line
// table can store "Class.procedure" and the name table "unit.Class.method".
#pragma once

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

namespace qv {

// The name without the compiler's clone suffixes: " [clone .isra.0]" of a demangled name,
// ".part.0", ".cold" and the like of a plain one. An optimised build gives the copies it
// makes of a function such names; a report shows the function's own.
inline std::string WithoutCloneSuffix(std::string name) {
  for (std::size_t at; (at = name.find(" [clone ")) != std::string::npos;) {
    const std::size_t end = name.find(']', at);
    name.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  }
  // A plain (C or unmangled) name: the part before the first '.' that starts a suffix.
  static constexpr const char* Suffixes[] = {".isra.",     ".part.",      ".constprop.",  ".cold",
                                             ".lto_priv.", ".localalias", ".specialized."};
  std::size_t cut = std::string::npos;
  for (const char* suffix : Suffixes) {
    const std::size_t at = name.find(suffix);
    if (at != std::string::npos && at > 0 && name.find('(') > at) cut = std::min(cut, at);
  }
  if (cut != std::string::npos) name.erase(cut);
  return name;
}

struct SplitName {
  std::string scope;      // "qv::TApplication"; empty for a name without one
  std::string procedure;  // "HandleException(std::__exception_ptr::exception_ptr)"
  std::size_t parameters = std::string::npos;  // where the parameter list starts in `procedure`
};

// Where the "::" after the parameter list that opens at `open` stands, when that list belongs
// to a function whose local entity the name continues with; else npos.
inline std::size_t LocalScopeEnd(const std::string& name, std::size_t open) {
  int depth = 0;
  std::size_t i = open;
  for (; i < name.size(); ++i) {
    if (name[i] == '(') ++depth;
    if (name[i] == ')' && --depth == 0) break;
  }
  if (i >= name.size()) return std::string::npos;
  ++i;
  for (bool more = true; more;) {
    more = false;
    for (std::string_view qualifier : {" const", " volatile", " &&", " &"}) {
      if (name.compare(i, qualifier.size(), qualifier) == 0) {
        i += qualifier.size();
        more = true;
      }
    }
  }
  return name.compare(i, 2, "::") == 0 ? i : std::string::npos;
}

// scope + "::" + procedure (or procedure alone) gives the name back.
inline SplitName SplitFunctionName(const std::string& name) {
  static constexpr std::string_view Anonymous = "(anonymous namespace)";
  int depth = 0;
  std::size_t separator = std::string::npos, parameters = std::string::npos;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name.compare(i, Anonymous.size(), Anonymous) == 0) {
      i += Anonymous.size() - 1;
      continue;
    }
    if (name.compare(i, 8, "operator") == 0 &&
        (i == 0 || (!std::isalnum(uint8_t(name[i - 1])) && name[i - 1] != '_'))) {
      std::size_t j = i + 8;
      if (name.compare(j, 2, "()") == 0)
        j += 2;
      else
        while (j < name.size() && std::strchr("<>=!+-*/%^&|~,[]", name[j]) != nullptr) ++j;
      i = j - 1;
      continue;
    }
    const char c = name[i];
    if (c == '(' && depth == 0) {
      // "f(int) const::{lambda()#1}::operator()() const": a parameter list followed by "::"
      // is a function's local scope, not this function's parameters.
      const std::size_t after = LocalScopeEnd(name, i);
      if (after == std::string::npos) {
        parameters = i;
        break;
      }
      separator = after;
      i = after + 1;
      continue;
    }
    if (c == '<' || c == '(' || c == '{' || c == '[') {
      ++depth;
    } else if (c == '>' || c == ')' || c == '}' || c == ']') {
      --depth;
    } else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') {
      separator = i;
      ++i;
    }
  }
  SplitName split;
  if (separator == std::string::npos) {
    split.procedure = name;
    split.parameters = parameters;
  } else {
    split.scope = name.substr(0, separator);
    split.procedure = name.substr(separator + 2);
    split.parameters = parameters == std::string::npos ? parameters : parameters - separator - 2;
  }
  return split;
}

}  // namespace qv
