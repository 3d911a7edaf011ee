// Any bytes as the registry file: every key and value below HKEY_CURRENT_USER reads as its
// type says, and a value written through the class keeps every other value as it read.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/base/registry.h"
#include "platform/base/stringlist.h"
#include "platform/base/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Values = std::map<std::string, std::vector<std::uint8_t>>;

// Every value under `path` (keys at most four deep), by lower-case key and value name.
void ReadTree(const std::string& path, int depth, Values& values) {
  qv::TRegistry reg(qv::KEY_READ);
  reg.SetRootKey(qv::HKEY_CURRENT_USER);
  if (!reg.OpenKeyReadOnly(path)) return;
  qv::TStringList names;
  reg.GetValueNames(names);
  for (int i = 0; i < names.Count(); ++i) {
    const std::string& name = names[i];
    try {
      switch (reg.GetDataType(name)) {
        case qv::rdString:
        case qv::rdExpandString:
          (void)reg.ReadString(name);
          break;
        case qv::rdInteger:
          (void)reg.ReadInteger(name);
          break;
        default:
          break;
      }
      (void)reg.GetDataSize(name);
      values[qv::LowerCase(path + "\\" + name)] = reg.ReadBinaryData(name);
    } catch (const qv::ERegistryException&) {
    }
  }
  if (depth == 4) return;
  reg.GetKeyNames(names);
  for (int i = 0; i < names.Count(); ++i) ReadTree(path + "\\" + names[i], depth + 1, values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    const std::string file = qv::fuzz::ScratchDir() + "registry.reg";
    setenv("QUORVEL_REGISTRY", file.c_str(), 1);
    return file;
  }();
  qv::fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  Values before, after;
  ReadTree("\\Software", 0, before);
  try {
    qv::TRegistry reg;
    if (reg.OpenKey("\\Software\\Fuzz", true)) reg.WriteString("Written", "w\xC3\xA9");
  } catch (const qv::ERegistryException&) {
    return 0;  // a file that cannot be rewritten is left alone
  }
  ReadTree("\\Software", 0, after);
  before.erase("\\software\\fuzz\\written");
  for (const auto& [name, value] : before) {
    if (after[name] != value) {
      std::fprintf(stderr, "%s changed\n", name.c_str());
      std::abort();
    }
  }
  return 0;
}
