// Any bytes as an INI file (the program's settings, a language file): every section and
// value reads, and a write saved to the file keeps what every other key read before.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "platform/base/inifile.h"
#include "platform/base/stringlist.h"
#include "platform/base/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Values = std::map<std::pair<std::string, std::string>, std::string>;

// What every key of every section reads, by section and key (first of a name wins).
Values ReadAll(qv::TCustomIniFile& ini) {
  Values values;
  qv::TStringList sections, keys;
  ini.ReadSections(sections);
  for (int s = 0; s < sections.Count(); ++s) {
    ini.ReadSection(sections[s], keys);
    for (int k = 0; k < keys.Count(); ++k) {
      const std::string value = ini.ReadString(sections[s], keys[k], "\x01");
      (void)ini.ReadInteger(sections[s], keys[k], -7);
      (void)ini.ReadBool(sections[s], keys[k], false);
      values.emplace(std::pair(qv::LowerCase(sections[s]), qv::LowerCase(keys[k])), value);
    }
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = qv::fuzz::ScratchDir() + "settings.ini";
  qv::fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  Values before;
  {
    qv::TMemIniFile ini(path);
    before = ReadAll(ini);
    qv::TStringList values;
    ini.ReadSectionValues("Options", values);
    ini.WriteString("Fuzz", "Written", "w\xC3\xA9");
    ini.UpdateFile();
  }
  qv::TMemIniFile again(path);
  Values after = ReadAll(again);
  if (after[{"fuzz", "written"}] != "w\xC3\xA9") std::abort();
  before.erase({"fuzz", "written"});
  after.erase({"fuzz", "written"});
  if (before != after) {
    for (const auto& [key, value] : before) {
      if (after[key] != value)
        std::fprintf(stderr, "[%s] %s: '%s' became '%s'\n", key.first.c_str(), key.second.c_str(),
                     value.c_str(), after[key].c_str());
    }
    std::abort();
  }
  return 0;
}
