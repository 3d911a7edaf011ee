// Writes seed inputs for fuzz_module_file: small ELF files with a logger data section (packed
// and plain), a version section, and a file with the older block at its end.
#include <elf.h>
#include <link.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/oldata/oldata_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <class T>
void Put(Bytes& out, std::size_t at, const T& value) {
  if (out.size() < at + sizeof value) out.resize(at + sizeof value);
  std::memcpy(out.data() + at, &value, sizeof value);
}

// An ELF header, the sections' bytes one after the other, the section names, then the
// section headers.
Bytes Elf(const std::vector<std::pair<std::string, Bytes>>& sections) {
  Bytes file(sizeof(ElfW(Ehdr)));
  std::string names(1, '\0');
  std::vector<ElfW(Shdr)> headers(1);
  for (const auto& [name, bytes] : sections) {
    ElfW(Shdr) h{};
    h.sh_name = uint32_t(names.size());
    h.sh_type = SHT_PROGBITS;
    h.sh_offset = file.size();
    h.sh_size = bytes.size();
    names += name + '\0';
    file.insert(file.end(), bytes.begin(), bytes.end());
    headers.push_back(h);
  }
  ElfW(Shdr) strings{};
  strings.sh_name = uint32_t(names.size());
  names += std::string(".shstrtab") + '\0';
  strings.sh_type = SHT_STRTAB;
  strings.sh_offset = file.size();
  strings.sh_size = names.size();
  file.insert(file.end(), names.begin(), names.end());
  headers.push_back(strings);
  ElfW(Ehdr) eh{};
  std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
  eh.e_ident[EI_CLASS] = ELFCLASS64;
  eh.e_ident[EI_DATA] = ELFDATA2LSB;
  eh.e_ident[EI_VERSION] = EV_CURRENT;
  eh.e_type = ET_DYN;
  eh.e_machine = EM_X86_64;
  eh.e_version = EV_CURRENT;
  eh.e_ehsize = sizeof eh;
  eh.e_shentsize = sizeof(ElfW(Shdr));
  eh.e_shnum = uint16_t(headers.size());
  eh.e_shstrndx = uint16_t(headers.size() - 1);
  eh.e_shoff = file.size();
  for (const ElfW(Shdr) & h : headers) Put(file, file.size(), h);
  Put(file, 0, eh);
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using namespace qv::oldata;
  Bytes entries;
  const std::string name = "TForm1.Go", dotted = ".Click";
  AppendLineEntry(entries, 4, 2, &name);
  AppendLineEntry(entries, 8, 1, nullptr);
  AppendLineEntry(entries, 100, 20, &dotted);
  AppendLineEntry(entries, 70000, -40000, nullptr);
  const std::vector<UnitBlock> units = {{"Main", 10, 0x100, 0x20000, entries}};
  const std::string version = "1.2.3.4\nQuorvel test module";
  const Bytes stamp(version.begin(), version.end());
  int n = 0;
  const auto write = [&](const Bytes& bytes) {
    qv::fuzz::WriteFile(std::string(argv[1]) + "/seed-" + std::to_string(n++),
                        qv::fuzz::Text(bytes));
  };
  for (const int v : {404, 454}) {
    const Bytes block = BuildBlock(v == 404 ? Bytes(10, 1) : DefaultOptionStream(),
                                   BuildDebugInfo({{"Main.Go", 0x100}}, units, v), v);
    write(Elf({{".text", Bytes(64, 0xC3)}, {".oldata", block}, {".quorvel.version", stamp}}));
    // The older form: the block without its magic, its length, then the magic.
    Bytes old = Elf({{".text", Bytes(16, 0x90)}});
    old.insert(old.end(), block.begin() + 4, block.end());
    Put(old, old.size(), uint32_t(block.size() - 4));
    old.insert(old.end(), block.begin(), block.begin() + 4);
    write(old);
  }
  return 0;
}
