// A string list's items as a vector, so that tests compare whole lists at once.
#pragma once

#include <string>
#include <vector>

#include "platform/base/stringlist.h"

namespace qv::testing {

inline std::vector<std::string> Items(const TStringList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

}  // namespace qv::testing
