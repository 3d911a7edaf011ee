// qv-oldata <binary> <output>: writes the exception logger's data block for a linked
// binary from its DWARF: the default option stream, a name table of every function
// ("unit.Class.method") and one unit block of line entries per run of one source file
// over contiguous code. Exits 1 with a message on stderr when the binary cannot be read.
#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <gelf.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "crashlog/name_split.h"
#include "tools/oldata/oldata_writer.h"

namespace {

using qv::SplitFunctionName;

struct Function {
  uint64_t low = 0, high = 0;
  int name = 0;  // index into the names
};

struct Symbol {
  std::string name;
  int binding = 0;
  uint64_t size = 0;
};

struct Row {
  uint64_t address = 0;
  uint32_t line = 0;
  std::string file;  // base name
  bool end = false;
};

std::string BaseName(const char* path) {
  if (path == nullptr) return "";
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

std::string Stem(const std::string& file) {
  const auto dot = file.rfind('.');
  return dot == std::string::npos ? file : file.substr(0, dot);
}

std::string Demangled(const char* name) {
  int status = 0;
  char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string result = status == 0 && plain != nullptr ? plain : name;
  std::free(plain);
  return qv::WithoutCloneSuffix(std::move(result));
}

// The function's display name as a symbolizer shows it: the demangled name of the symbol at
// its entry (functions of internal linkage have no linkage name in the DWARF), else of its
// linkage name, else its plain name.
std::string FunctionName(Dwarf_Die* die, uint64_t entry,
                         const std::map<uint64_t, Symbol>& symbols) {
  if (const auto it = symbols.find(entry); it != symbols.end())
    return Demangled(it->second.name.c_str());
  Dwarf_Attribute attr;
  for (int at : {DW_AT_linkage_name, DW_AT_MIPS_linkage_name}) {
    if (dwarf_attr_integrate(die, at, &attr) != nullptr) {
      if (const char* s = dwarf_formstring(&attr)) return Demangled(s);
    }
  }
  if (dwarf_attr_integrate(die, DW_AT_name, &attr) != nullptr) {
    if (const char* s = dwarf_formstring(&attr)) return s;
  }
  return "";
}

class Generator {
 public:
  std::vector<std::string> names;
  std::vector<Function> functions;
  std::vector<qv::oldata::NameRecord> records;
  std::vector<std::vector<Row>> sequences;
  std::map<uint64_t, Symbol> symbols;  // function symbols by address
  uint64_t base = 0;                   // lowest loadable address

  void LoadSymbols(Elf* elf) {
    for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn != nullptr; scn = elf_nextscn(elf, scn)) {
      GElf_Shdr header;
      if (gelf_getshdr(scn, &header) == nullptr || header.sh_type != SHT_SYMTAB) continue;
      Elf_Data* data = elf_getdata(scn, nullptr);
      const std::size_t count = header.sh_entsize != 0 ? header.sh_size / header.sh_entsize : 0;
      for (std::size_t i = 0; data != nullptr && i < count; ++i) {
        GElf_Sym sym;
        if (gelf_getsym(data, int(i), &sym) == nullptr || GELF_ST_TYPE(sym.st_info) != STT_FUNC ||
            sym.st_value == 0)
          continue;
        const char* name = elf_strptr(elf, header.sh_link, sym.st_name);
        if (name == nullptr) continue;
        // Of several names for one address the plain global one counts, not a local alias
        // or clone ("f.localalias").
        const auto rank = [](const std::string& n, int binding) {
          return (n.find('.') == std::string::npos ? 2 : 0) + (binding != STB_LOCAL ? 1 : 0);
        };
        const int binding = GELF_ST_BIND(sym.st_info);
        auto [it, added] = symbols.emplace(sym.st_value, Symbol{name, binding, sym.st_size});
        if (!added && rank(name, binding) > rank(it->second.name, it->second.binding))
          it->second = Symbol{name, binding, std::max<uint64_t>(sym.st_size, it->second.size)};
      }
    }
  }

  bool Offset(uint64_t address, uint32_t& offset) const {
    if (address < base + 0x1000 || address - base - 0x1000 > UINT32_MAX) return false;
    offset = uint32_t(address - base - 0x1000);
    return true;
  }

  void Walk(Dwarf_Die* die, const std::string& unit_stem) {
    Dwarf_Die child;
    if (dwarf_child(die, &child) != 0) return;
    do {
      // Functions nest in namespaces and classes, and local classes and lambdas in the
      // functions and blocks that hold them.
      const int tag = dwarf_tag(&child);
      if (tag == DW_TAG_subprogram) AddFunction(&child, unit_stem);
      if (tag == DW_TAG_subprogram || tag == DW_TAG_namespace || tag == DW_TAG_class_type ||
          tag == DW_TAG_structure_type || tag == DW_TAG_union_type || tag == DW_TAG_lexical_block)
        Walk(&child, unit_stem);
    } while (dwarf_siblingof(&child, &child) == 0);
  }

  void AddFunction(Dwarf_Die* die, const std::string& unit_stem) {
    Dwarf_Addr low = 0, high = 0, base_address = 0;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    ptrdiff_t at = 0;
    while ((at = dwarf_ranges(die, at, &base_address, &low, &high)) > 0) {
      if (high > low) ranges.emplace_back(low, high);
    }
    if (ranges.empty()) return;
    // The entry: DW_AT_entry_pc or the low address, else (code split into a hot and a cold
    // part) the start of the part that carries the function's own symbol.
    Dwarf_Addr entry = 0;
    if (dwarf_entrypc(die, &entry) != 0) {
      entry = ranges.front().first;
      for (const auto& [lo, hi] : ranges) {
        const auto it = symbols.find(lo);
        if (it != symbols.end() && it->second.name.find('.') == std::string::npos) {
          entry = lo;
          break;
        }
      }
    }
    const std::string name = FunctionName(die, entry, symbols);
    if (name.empty()) return;
    names.push_back(name);
    for (const auto& [lo, hi] : ranges) functions.push_back({lo, hi, int(names.size() - 1)});
    // The name table holds "unit.Class.method" at the function's entry.
    const auto split = SplitFunctionName(name);
    std::string method = split.procedure.substr(0, split.parameters);
    std::string qualified =
        unit_stem + "." + (split.scope.empty() ? "" : split.scope + ".") + method;
    uint32_t offset = 0;
    if (qualified.size() <= 255 && Offset(entry, offset)) records.push_back({qualified, offset});
  }

  void AddLines(Dwarf_Die* cu) {
    Dwarf_Lines* lines = nullptr;
    size_t count = 0;
    if (dwarf_getsrclines(cu, &lines, &count) != 0) return;
    // The rows come sorted by address over all of the unit's sequences, an end row before
    // other rows at its address, so the order alone does not tell where a sequence's code
    // ends: a sequence's last row may lie at its end address (it covers no code) and then
    // follows the end row, and the rows of sequences the linker dropped interleave near
    // address 0. A row's line would stretch over the gap up to the next row, over other
    // units' code. The unit's code ranges bound it: a row outside them is left out, and a
    // sequence ends where its range does.
    std::vector<std::pair<uint64_t, uint64_t>> code;
    {
      Dwarf_Addr low = 0, high = 0, base_address = 0;
      ptrdiff_t at = 0;
      while ((at = dwarf_ranges(cu, at, &base_address, &low, &high)) > 0) {
        if (high > low) code.emplace_back(low, high);
      }
    }
    std::sort(code.begin(), code.end());
    std::vector<std::pair<uint64_t, uint64_t>> merged;
    for (const auto& range : code) {
      if (!merged.empty() && range.first <= merged.back().second)
        merged.back().second = std::max(merged.back().second, range.second);
      else
        merged.push_back(range);
    }
    // The merged range that holds the address, or -1; without ranges all is one range.
    const auto range_of = [&](uint64_t address) -> long {
      if (merged.empty()) return 0;
      auto it = std::upper_bound(merged.begin(), merged.end(), address,
                                 [](uint64_t a, const auto& r) { return a < r.first; });
      if (it == merged.begin() || address >= std::prev(it)->second) return -1;
      return long(std::prev(it) - merged.begin());
    };
    std::vector<Row> sequence;
    const auto finish = [&](Row end_row) {
      sequence.push_back(std::move(end_row));
      // A sequence at address 0 belongs to code the linker dropped.
      if (sequence.size() > 1 && sequence.front().address != 0) sequences.push_back(sequence);
      sequence.clear();
    };
    for (size_t i = 0; i < count; ++i) {
      Dwarf_Line* line = dwarf_onesrcline(lines, i);
      Row row;
      Dwarf_Addr address = 0;
      int number = 0;
      bool end = false;
      dwarf_lineaddr(line, &address);
      dwarf_lineno(line, &number);
      dwarf_lineendsequence(line, &end);
      row.address = address;
      row.line = uint32_t(std::max(number, 0));
      row.file = BaseName(dwarf_linesrc(line, nullptr, nullptr));
      row.end = end;
      if (end) {
        finish(row);
        continue;
      }
      const long range = range_of(row.address);
      if (!sequence.empty() && range_of(sequence.back().address) != range) {
        Row end_row = sequence.back();
        end_row.address =
            std::min(merged[std::size_t(range_of(end_row.address))].second, row.address);
        end_row.end = true;
        finish(end_row);
      }
      if (range < 0) continue;
      // Of several rows at one address the last one counts.
      if (!sequence.empty() && sequence.back().address == row.address)
        sequence.back() = row;
      else
        sequence.push_back(row);
    }
  }

  // The function symbol whose code holds the address: the symbol table knows where each
  // function's parts lie, also where an optimised build's debug information leaves a part
  // out (the cold part of a split function has a symbol of its own, up to the next one).
  std::map<uint64_t, Function> symbol_functions;
  const Function* SymbolAt(uint64_t address) {
    auto it = symbols.upper_bound(address);
    if (it == symbols.begin()) return nullptr;
    const auto next = it;
    --it;
    uint64_t size = it->second.size;
    if (size == 0 && next != symbols.end())
      size = std::min<uint64_t>(next->first - it->first, 0x10000);
    if (address - it->first >= size) return nullptr;
    auto [found, added] = symbol_functions.try_emplace(it->first);
    if (added) {
      names.push_back(Demangled(it->second.name.c_str()));
      found->second = Function{it->first, it->first + size, int(names.size() - 1)};
    }
    return &found->second;
  }

  const Function* FunctionAt(uint64_t address) const {
    auto it = std::upper_bound(functions.begin(), functions.end(), address,
                               [](uint64_t a, const Function& f) { return a < f.low; });
    // The innermost (latest-starting) function whose range holds the address.
    for (int n = 0; it != functions.begin() && n < 16; ++n) {
      --it;
      if (address >= it->low && address < it->high) return &*it;
    }
    return nullptr;
  }

  std::vector<qv::oldata::UnitBlock> Units() {
    const auto by_low = [](const Function& a, const Function& b) { return a.low < b.low; };
    std::sort(functions.begin(), functions.end(), by_low);
    std::vector<qv::oldata::UnitBlock> units;
    for (const std::vector<Row>& seq : sequences) {
      std::size_t i = 0;
      while (i + 1 < seq.size()) {
        // One block: rows of one file over contiguous addresses.
        std::size_t j = i + 1;
        while (j + 1 < seq.size() && !seq[j].end && seq[j].file == seq[i].file) ++j;
        uint32_t start = 0, end = 0;
        if (Offset(seq[i].address, start) && Offset(seq[j].address, end) && end > start)
          units.push_back(Block(seq, i, j, start, end));
        i = j;
      }
    }
    return units;
  }

  qv::oldata::UnitBlock Block(const std::vector<Row>& seq, std::size_t from, std::size_t to,
                              uint32_t start, uint32_t end) {
    qv::oldata::UnitBlock unit;
    unit.name = seq[from].file;
    unit.first_line = seq[from].line;
    unit.start = start;
    unit.size = end - start;
    const Function* current = nullptr;
    std::string remembered;
    // The name rides on an entry that covers no address, so it names what follows.
    const auto name_from = [&](uint64_t address) {
      const Function* f = SymbolAt(address);
      if (f == nullptr) f = FunctionAt(address);
      if (f != nullptr && f != current && (current == nullptr || f->name != current->name)) {
        const auto split = SplitFunctionName(names[f->name]);
        std::string text;
        if (split.scope.empty()) {
          text = split.procedure;
        } else if (split.scope == remembered) {
          text = "." + split.procedure;
        } else {
          text = split.scope + "." + split.procedure;
          remembered = split.scope;
        }
        qv::oldata::AppendLineEntry(unit.entries, 0, 0, &text);
      }
      current = f;
    };
    for (std::size_t k = from; k < to; ++k) {
      uint64_t at = seq[k].address;
      name_from(at);
      // A function that begins between two rows (the cold parts of split functions lie side
      // by side) gets its name where it begins.
      for (auto next = symbols.upper_bound(at);
           next != symbols.end() && next->first < seq[k + 1].address; ++next) {
        qv::oldata::AppendLineEntry(unit.entries, next->first - at, 0, nullptr);
        at = next->first;
        name_from(at);
      }
      const int64_t line_step = k + 1 < to ? int64_t(seq[k + 1].line) - seq[k].line : 0;
      qv::oldata::AppendLineEntry(unit.entries, seq[k + 1].address - at, line_step, nullptr);
    }
    return unit;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qv-oldata <binary> <output>\n");
    return 2;
  }
  elf_version(EV_CURRENT);
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  Elf* elf = fd >= 0 ? elf_begin(fd, ELF_C_READ, nullptr) : nullptr;
  if (elf == nullptr) {
    std::fprintf(stderr, "qv-oldata: cannot read %s\n", argv[1]);
    return 1;
  }
  Generator gen;
  std::size_t phnum = 0;
  gen.base = UINT64_MAX;
  elf_getphdrnum(elf, &phnum);
  for (std::size_t i = 0; i < phnum; ++i) {
    GElf_Phdr ph;
    if (gelf_getphdr(elf, int(i), &ph) != nullptr && ph.p_type == PT_LOAD)
      gen.base = std::min<uint64_t>(gen.base, ph.p_vaddr & ~uint64_t(0xFFF));
  }
  if (gen.base == UINT64_MAX) gen.base = 0;
  gen.LoadSymbols(elf);
  // A binary without debug information gets a block with options and no units.
  if (Dwarf* dwarf = dwarf_begin_elf(elf, DWARF_C_READ, nullptr)) {
    Dwarf_Off offset = 0, next = 0;
    size_t header_size = 0;
    while (dwarf_nextcu(dwarf, offset, &next, &header_size, nullptr, nullptr, nullptr) == 0) {
      Dwarf_Die cu;
      if (dwarf_offdie(dwarf, offset + header_size, &cu) != nullptr) {
        gen.Walk(&cu, Stem(BaseName(dwarf_diename(&cu))));
        gen.AddLines(&cu);
      }
      offset = next;
    }
    dwarf_end(dwarf);
  }
  const auto units = gen.Units();
  const auto block = qv::oldata::BuildBlock(qv::oldata::DefaultOptionStream(),
                                            qv::oldata::BuildDebugInfo(gen.records, units));
  elf_end(elf);
  ::close(fd);
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size()));
  if (!out.flush()) {
    std::fprintf(stderr, "qv-oldata: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
