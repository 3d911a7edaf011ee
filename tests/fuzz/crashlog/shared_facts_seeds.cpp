// Writes seed inputs for fuzz_shared_facts into the folder given: "MODULE" objects with the
// default options and with changed ones, "EXCEPT" objects with unread and read facts, each
// as the process's own object and as one open to others.
#include <cstdint>
#include <string>
#include <vector>

#include "crashlog/module_options.h"
#include "platform/base/streams.h"
#include "tests/fuzz/crashlog/seed_options.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::string Word(std::uint32_t value) {
  return std::string(reinterpret_cast<const char*>(&value), 4);
}

std::string Object(const std::string& data) {
  return Word(std::uint32_t(data.size())) + data;
}

std::string Text(const std::string& text) {
  return Word(std::uint32_t(text.size())) + text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  qv::TOstrelModuleOptions sets[2];
  qv::fuzz::SeedOptionSets(sets);
  sets[1].SetOutputPath("/srv/reports");
  std::vector<std::string> objects;
  for (const auto& options : sets) {
    qv::TMemoryStream stream;
    options.SaveToStream(stream);
    const std::string bytes(qv::fuzz::Text(stream.Bytes()));
    objects.push_back(std::string(1, '\0') + Object("\x01" + bytes));
    objects.push_back(std::string(1, '\0') + Object(std::string(1, '\0') + bytes));  // not in use
  }
  for (const char state : {'\x01', '\0'}) {
    objects.push_back("\x01" +
                      Object(state + Text("EAccessViolation") + Text("Access violation.")));
  }
  objects.push_back("\x01" + Object("\x01" + Text("") + Text("")));
  int n = 0;
  for (const std::string& object : objects) {
    for (const char open : {'\0', '\x02'}) {
      std::string seed = object;
      seed[0] = char(seed[0] | open);
      qv::fuzz::WriteFile(std::string(argv[1]) + "/seed-" + std::to_string(++n), seed);
    }
  }
  return 0;
}
