#include "crashlog/debug_info.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "crashlog/code_hook.h"
#include "crashlog/name_split.h"
#include "platform/base/paths.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"
#include "tools/oldata/oldata_writer.h"

namespace qv {

[[gnu::noinline, gnu::patchable_function_entry(5, 0)]] int DebugInfoMarker(int x) {
  asm volatile("" ::: "memory");
  return x * 3;
}

namespace {

using oldata::AppendShortString;
using oldata::AppendU32;

// Line entries written by hand, one form after another (offsets from 0x100, first line 10):
//   B  "TForm1.Button1Click"  4 bytes, +2 lines   [0x100, 0x104) line 10
//   A                         8 bytes, +1         [0x104, 0x10C) line 12
//   C  ".Click"             100 bytes, +20        [0x10C, 0x170) line 13, Button1Click
//   A                         4 bytes, +1         [0x170, 0x174) line 33, TForm1.Click
//   D  "@Init" 0xFFF step    no bytes, -3         line 34 -> 31, procedure _Init
//   D                      1000 bytes, +5         [0x174, 0x55C) line 31
//   E (from 423)           4096 bytes, +2         [0x55C, 0x155C) line 36
//   the rest of the unit up to 0x2100                             line 38 (36 before 423)
std::vector<uint8_t> HandEntries(int version) {
  std::vector<uint8_t> e;
  e.push_back(0x2D);
  AppendShortString(e, "TForm1.Button1Click");
  e.push_back(0x0E);
  e.insert(e.end(), {0x37, 0x9E});
  AppendShortString(e, ".Click");
  e.push_back(0x06);
  AppendU32(e, 0xFFFFFFCF);
  AppendShortString(e, "@Init");
  AppendU32(e, 0x3E70004B);
  if (version >= 423) {
    AppendU32(e, 0xFFEFFFEB);
    e.insert(e.end(), {0x01, 0x00, 0xFF, 0x0F});
  }
  return e;
}

std::vector<uint8_t> HandDebugInfo(int version) {
  oldata::UnitBlock other{"Other.cpp", 1, 0x3000, 0x10, {0x00}};
  oldata::UnitBlock main{"Main", 10, 0x100, 0x2000, HandEntries(version)};
  return oldata::BuildDebugInfo({{"Main.TForm1.Button1Click", 0x100}, {"Main.Go", 0x174}},
                                {other, main}, version);
}

// An option stream as a version of that time wrote it (the tests of the options stream
// check the fields; here only the layout's length matters).
std::vector<uint8_t> OptionStream(int version) {
  if (version >= 450) return oldata::DefaultOptionStream();
  std::vector<uint8_t> s = {1, 0, 1, 0, 1, 1, 1, 0, 0, 2};
  if (version < 420) return s;
  const auto str = [&](const std::string& t) {
    AppendU32(s, uint32_t(t.size()));
    for (char c : t) s.push_back(uint8_t(c) ^ 0xA7);
  };
  s.insert(s.end(), {0, 1});
  AppendU32(s, 45);
  for (const char* t : {"Frozen", "f@x", "smtp"}) str(t);
  s.insert(s.end(), {25, 0});
  str("u");
  str("p");
  s.insert(s.end(), {0, 0});
  AppendU32(s, 9);
  AppendU32(s, 4);
  str("to@x");
  str("Subj");
  s.push_back(0);
  AppendU32(s, 0x0F);
  s.push_back(0xEE);
  str("/tmp");
  AppendU32(s, 0);
  str("Body");
  for (int i = 0; i < 59; ++i) str("T" + std::to_string(i));
  return s;
}

std::vector<uint8_t> HandBlock(int version) {
  return oldata::BuildBlock(OptionStream(version), HandDebugInfo(version), version);
}

struct Expected {
  uint32_t offset;
  const char* class_name;
  const char* procedure;
  uint32_t line;  // 0: not found
};

TEST(DebugInfoTest, LineEntriesOfEveryFormAndVersion) {
  for (const int version : {404, 449, 454}) {
    SCOPED_TRACE(version);
    const auto block = HandBlock(version);
    TOstrelLoggerData data;
    TOstrelModuleOptions options;
    ASSERT_TRUE(ParseLoggerData(block.data(), block.size(), data, options));
    EXPECT_EQ(data.data_version, version);
    if (version < 450) {
      EXPECT_EQ(options.DetailsPage(), 2);
    }
    const bool long_entries = version >= 423;
    const Expected cases[] = {
        {0x0FF, "", "", 0},
        {0x100, "TForm1", "Button1Click", 10},
        {0x103, "TForm1", "Button1Click", 10},
        {0x104, "TForm1", "Button1Click", 12},
        {0x10C, "TForm1", "Button1Click", 13},
        {0x16F, "TForm1", "Button1Click", 13},
        {0x170, "TForm1", "Click", 33},
        {0x174, "", "_Init", 31},
        {0x55B, "", "_Init", 31},
        {0x55C, "", "_Init", 36},
        {0x155B, "", "_Init", 36},
        {0x155C, "", "_Init", long_entries ? 38u : 36u},
        {0x20FF, "", "_Init", long_entries ? 38u : 36u},
        {0x2100, "", "", 0},
    };
    const auto index = BuildLineIndex(data.debug, version);
    for (const Expected& c : cases) {
      for (const TOstrelLineIndex* use : {index.get(), (const TOstrelLineIndex*)nullptr}) {
        SCOPED_TRACE(c.offset);
        TOstrelStackEntry entry;
        const bool found =
            FindSourceLocation(data.debug, version, 0, 0x1000 + c.offset, entry, use);
        ASSERT_EQ(found, c.line != 0);
        if (!found) continue;
        EXPECT_EQ(entry.kind, skLine);
        EXPECT_EQ(entry.unit_name, "Main");  // stored without an extension, shown so
        EXPECT_EQ(entry.class_name, c.class_name);
        EXPECT_EQ(entry.procedure_name, c.procedure);
        EXPECT_EQ(entry.line, c.line);
      }
    }
    TOstrelStackEntry other;
    ASSERT_TRUE(FindSourceLocation(data.debug, version, 0, 0x4000, other));
    EXPECT_EQ(other.unit_name, "Other.cpp");  // a name with "." is kept
    EXPECT_EQ(FindDebugProcAddress(data.debug, version, 0x10000, "Main.Go"),
              version >= 405 ? 0x11174u : 0u);
    EXPECT_EQ(FindDebugProcAddress(data.debug, version, 0, "Main.go"), 0u);
  }
}

// A name names the code after its entry; its class goes with it, not with the entry that
// carries it.
TEST(DebugInfoTest, ClassChangesTogetherWithTheProcedure) {
  const std::string bar = "TForm1.Bar", foo = "TForm2.Foo";
  std::vector<uint8_t> entries;
  oldata::AppendLineEntry(entries, 4, 1, &bar);
  oldata::AppendLineEntry(entries, 4, 1, &foo);
  oldata::AppendLineEntry(entries, 4, 1, nullptr);
  const auto debug = oldata::BuildDebugInfo({}, {{"u.cpp", 1, 0, 12, entries}});
  const std::pair<uint32_t, std::string> cases[] = {
      {0x1000, "TForm1::Bar"}, {0x1004, "TForm1::Bar"}, {0x1008, "TForm2::Foo"}};
  for (const auto& [address, name] : cases) {
    TOstrelStackEntry entry;
    ASSERT_TRUE(FindSourceLocation(debug, 454, 0, address, entry));
    EXPECT_EQ(entry.FunctionName(), name) << address;
  }
}

TEST(DebugInfoTest, OldFormAtTheFileEnd) {
  const auto current = HandBlock(404);
  // [block without magic][length][magic] behind other bytes.
  std::vector<uint8_t> file = {'E', 'L', 'G'};
  file.insert(file.end(), current.begin() + 4, current.end());
  AppendU32(file, uint32_t(current.size() - 4));
  AppendU32(file, OstrelDataMagic);
  char path[] = "/tmp/qv-oldata-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_EQ(::write(fd, file.data(), file.size()), ssize_t(file.size()));
  ::close(fd);
  TOstrelModuleEntry entry;
  entry.path = path;
  EXPECT_TRUE(LoadDebugInformation(entry));
  EXPECT_EQ(entry.data_version, 404);
  TOstrelStackEntry found;
  EXPECT_TRUE(FindSourceLocation(entry.debug, entry.data_version, 0, 0x1170, found));
  EXPECT_EQ(found.procedure_name, "Click");
  // A length that reaches before the file's start is no block.
  const uint32_t too_long = uint32_t(file.size());
  std::memcpy(file.data() + file.size() - 8, &too_long, 4);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(file.data()), file.size());
  EXPECT_FALSE(LoadDebugInformation(entry));
  EXPECT_FALSE(entry.has_debug);
  EXPECT_EQ(entry.data_version, OstrelCurrentDataVersion);
  ::unlink(path);
}

// The old form is never packed, whatever its version: from 450 on it is read as it stands.
TEST(DebugInfoTest, OldFormFromVersion450IsReadUnpacked) {
  const auto debug = HandDebugInfo(454);
  std::vector<uint8_t> file = {'E', 'L', 'G'};
  const std::size_t start = file.size();
  file.insert(file.end(), {0xC6, 0x01});  // version 454
  file.insert(file.end(), 8, 7);          // reserved
  const auto options = OptionStream(454);
  file.insert(file.end(), options.begin(), options.end());
  AppendU32(file, uint32_t(debug.size()));
  file.insert(file.end(), debug.begin(), debug.end());
  AppendU32(file, uint32_t(file.size() - start));
  AppendU32(file, OstrelDataMagic);
  char path[] = "/tmp/qv-oldata-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_EQ(::write(fd, file.data(), file.size()), ssize_t(file.size()));
  ::close(fd);
  EXPECT_FALSE(IsOstrelLogModule(path, nullptr));
  EXPECT_TRUE(IsOstrelLogModule_Old(path, nullptr));
  TOstrelModuleEntry entry;
  entry.path = path;
  EXPECT_TRUE(LoadDebugInformation(entry));
  EXPECT_EQ(entry.data_version, 454);
  EXPECT_EQ(entry.reserved[7], 7);
  TOstrelStackEntry found;
  EXPECT_TRUE(FindSourceLocation(entry.debug, entry.data_version, 0, 0x1170, found));
  EXPECT_EQ(found.procedure_name, "Click");
  ::unlink(path);
}

// An ELF file of a header, a section name table and a ".oldata" section header whose
// offset and size the caller chooses.
std::string ElfWithDataSection(uint64_t offset, uint64_t size) {
  const std::string names = std::string("\0.shstrtab\0", 11) + std::string(".oldata\0", 8);
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
  eh.e_shnum = 3;
  eh.e_shstrndx = 1;
  eh.e_shoff = sizeof eh + 64;
  std::string file(reinterpret_cast<const char*>(&eh), sizeof eh);
  file += names;
  file.resize(sizeof eh + 64, '\0');
  std::memcpy(file.data() + sizeof eh + 32, &OstrelDataMagic, 4);
  ElfW(Shdr) sh[3]{};
  sh[1].sh_name = 1;
  sh[1].sh_type = SHT_STRTAB;
  sh[1].sh_offset = sizeof eh;
  sh[1].sh_size = names.size();
  sh[2].sh_name = 11;
  sh[2].sh_type = SHT_PROGBITS;
  sh[2].sh_offset = offset;
  sh[2].sh_size = size;
  file.append(reinterpret_cast<const char*>(sh), sizeof sh);
  char path[] = "/tmp/qv-elf-XXXXXX";
  const int fd = ::mkstemp(path);
  EXPECT_EQ(::write(fd, file.data(), file.size()), ssize_t(file.size()));
  ::close(fd);
  return path;
}

// A section header that claims more than the file holds is no section: nothing is
// allocated for it, and looking for the magic reads four bytes only.
TEST(DebugInfoTest, SectionSizesAreCheckedAgainstTheFile) {
  const uint64_t at = sizeof(ElfW(Ehdr)) + 32;
  const struct {
    uint64_t offset, size;
    bool found;
  } cases[] = {{at, 4, true},           {at, 40, true},         {at, 2ull << 40, false},
               {at, 1ull << 30, false}, {1ull << 40, 4, false}, {at, UINT64_MAX, false},
               {UINT64_MAX, 4, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + " " + std::to_string(c.size));
    const std::string path = ElfWithDataSection(c.offset, c.size);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(ReadElfSection(path, OstrelDataSection, SIZE_MAX, bytes), c.found);
    EXPECT_EQ(bytes.size(), c.found ? c.size : 0);
    EXPECT_EQ(IsOstrelLogModule(path, nullptr), c.found);
    EXPECT_EQ(ReadElfSection(path, OstrelDataSection, SIZE_MAX, bytes, 4), c.found);
    EXPECT_EQ(bytes.size(), c.found ? 4u : 0u);
    ::unlink(path.c_str());
  }
}

// A data section without the magic is not the logger's: the old form at the file's end is.
TEST(DebugInfoTest, SectionWithoutTheMagicLeavesTheOldForm) {
  const std::string path = ElfWithDataSection(sizeof(ElfW(Ehdr)) + 36, 4);  // four zero bytes
  const auto current = HandBlock(404);
  std::vector<uint8_t> tail(current.begin() + 4, current.end());
  AppendU32(tail, uint32_t(current.size() - 4));
  AppendU32(tail, OstrelDataMagic);
  std::ofstream(path, std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(tail.data()), std::streamsize(tail.size()));
  EXPECT_FALSE(IsOstrelLogModule(path, nullptr));
  EXPECT_TRUE(IsOstrelLogModule_Old(path, nullptr));
  TOstrelModuleEntry entry;
  entry.path = path;
  EXPECT_TRUE(LoadDebugInformation(entry));
  EXPECT_EQ(entry.data_version, 404);
  ::unlink(path.c_str());
}

TEST(DebugInfoTest, TruncatedAndCorruptBlocksAreNoData) {
  for (const int version : {449, 454}) {
    const auto block = HandBlock(version);
    for (std::size_t n = 0; n < block.size(); ++n) {
      TOstrelLoggerData data;
      TOstrelModuleOptions options;
      EXPECT_FALSE(ParseLoggerData(block.data(), n, data, options)) << version << " cut at " << n;
    }
  }
  // A packed body that unpacks beyond the limit.
  const std::vector<uint8_t> zeros(1 << 20);
  const auto packed = oldata::BuildBlock(zeros, {}, 454);
  std::vector<uint8_t> out;
  EXPECT_FALSE(InflateBuffer(packed.data() + 14, packed.size() - 14, out, 4096));
  EXPECT_TRUE(InflateBuffer(packed.data() + 14, packed.size() - 14, out));
  EXPECT_EQ(out.size(), zeros.size() + 4);
}

TEST(DebugInfoTest, ExportNames) {
  struct Case {
    const char* name;
    uint8_t kind;
    const char *unit, *class_name, *procedure;
  } const cases[] = {
      {"", skModule, "", "", ""},
      {"@Forms@TApplication@HandleException$qqrp14System@TObject", skQualified, "Forms.pas",
       "TApplication", "HandleException"},
      {"@Sysutils@@InitExceptions$qqrv", skQualified, "Sysutils.pas", "", "_InitExceptions"},
      {"@Forms@TForm", skModule, "", "", ""},
      {"@$xp$5Forms", skModule, "", "", ""},
      {"MessageBoxA", skExport, "", "", "MessageBoxA"},
      {"?Run@@YAXXZ", skModule, "", "", ""},
      {"Unit1.TForm1.Go@8", skQualified, "Unit1.pas", "TForm1", "Go"},
      {"Unit1.Go", skQualified, "Unit1.pas", "", "Go"},
      {"A.B.C.D", skModule, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TOstrelStackEntry entry;
    entry.kind = skModule;
    ParseExportName(c.name, entry);
    EXPECT_EQ(entry.kind, c.kind);
    EXPECT_EQ(entry.unit_name, c.unit);
    EXPECT_EQ(entry.class_name, c.class_name);
    EXPECT_EQ(entry.procedure_name, c.procedure);
  }
}

int Replacement(int x) {
  return x + 1000;
}

TEST(DebugInfoTest, OwnNameTableFindsAndHooksRoutines) {
  const uintptr_t address = GetDebugProcAddress("debug_info_test.qv.DebugInfoMarker");
  EXPECT_EQ(address, reinterpret_cast<uintptr_t>(&DebugInfoMarker));
  EXPECT_EQ(GetDebugProcAddress("debug_info_test.qv.NoSuchRoutine"), 0u);
  void* trampoline = HookDebugProcedure("debug_info_test.qv.DebugInfoMarker",
                                        reinterpret_cast<void*>(&Replacement));
  ASSERT_NE(trampoline, nullptr);
  int (*volatile call)(int) = &DebugInfoMarker;
  EXPECT_EQ(call(2), 1002);
  EXPECT_EQ(reinterpret_cast<int (*)(int)>(trampoline)(2), 6);
  UnhookProcedure(trampoline);
  EXPECT_EQ(call(2), 6);
}

// A stream over memory it does not own reads within the block it was given, and an
// unreadable part of the block reads as nothing instead of a fault.
TEST(DebugInfoTest, ModuleStreamIsBoundedAndNeverFaults) {
  const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
  auto* p = static_cast<uint8_t*>(
      ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(p, MAP_FAILED);
  std::memset(p, 0x5A, page);
  ::mprotect(p + page, page, PROT_NONE);
  uint8_t bytes[8] = {};
  THModuleStream across(p + page - 4, 8);
  EXPECT_EQ(across.Read(bytes, 8), 0);
  EXPECT_EQ(across.Read(bytes, 4), 4);
  EXPECT_EQ(bytes[3], 0x5A);
  EXPECT_EQ(across.Read(bytes, 4), 0);
  THModuleStream small(p, 3);
  EXPECT_EQ(small.Size(), 3);
  EXPECT_EQ(small.Read(bytes, 8), 3);
  EXPECT_EQ(small.Read(bytes, 8), 0);
  EXPECT_THROW(small.Seek(-4, soFromCurrent), EStreamError);
  EXPECT_THROW(small.Seek(INT64_MAX, soFromEnd), EStreamError);
  EXPECT_THROW(small.Write(bytes, 1), EWriteError);
  ::munmap(p, 2 * page);
}

// A module's resource is the section of that name and type in its file; a section that
// claims more bytes than its file holds is none.
TEST(DebugInfoTest, ResourcesAreTheModuleFilesSections) {
  const TOstrelModulePtr own = GetModuleEntryOf(reinterpret_cast<uintptr_t>(&Replacement));
  ASSERT_NE(own, nullptr);
  std::vector<uint8_t> data;
  ASSERT_TRUE(GetResourceData(own->handle, OstrelDataSection, SHT_PROGBITS, data));
  ASSERT_GE(data.size(), 4u);
  EXPECT_EQ(std::memcmp(data.data(), &OstrelDataMagic, 4), 0);
  EXPECT_FALSE(GetResourceData(own->handle, OstrelDataSection, SHT_NOTE, data));
  EXPECT_TRUE(data.empty());
  EXPECT_FALSE(GetResourceData(own->handle, ".no-such-section", SHT_PROGBITS, data));
  EXPECT_FALSE(GetResourceData(0, OstrelDataSection, SHT_PROGBITS, data));

  const std::string library = std::string(QV_BINARY_DIR) + "/bin/libcrashlog_looselib.so";
  ASSERT_TRUE(ReadElfSection(library, ".text", SIZE_MAX, data));
  std::string file;
  {
    std::ifstream in(library, std::ios::binary);
    file.assign(std::istreambuf_iterator<char>(in), {});
  }
  ElfW(Ehdr) eh;
  std::memcpy(&eh, file.data(), sizeof eh);
  ElfW(Shdr) names;
  std::memcpy(&names, file.data() + eh.e_shoff + eh.e_shstrndx * sizeof names, sizeof names);
  for (int i = 0; i < eh.e_shnum; ++i) {
    ElfW(Shdr) s;
    char* at = file.data() + eh.e_shoff + i * sizeof s;
    std::memcpy(&s, at, sizeof s);
    if (std::strcmp(file.data() + names.sh_offset + s.sh_name, ".text") != 0) continue;
    s.sh_size = uint64_t(1) << 60;
    std::memcpy(at, &s, sizeof s);
  }
  test::TempDir dir;
  const std::string hostile = (dir.Path() / "hostile.so").string();
  std::ofstream(hostile, std::ios::binary) << file;
  EXPECT_FALSE(ReadElfSection(hostile, ".text", SIZE_MAX, data));
  EXPECT_TRUE(data.empty());
}

std::vector<uint8_t> FileBlockDebug(const std::string& path, int& version) {
  std::vector<uint8_t> block;
  bool old_form = true;
  TOstrelLoggerData data;
  TOstrelModuleOptions options;
  EXPECT_TRUE(ReadLoggerBlock(path, block, old_form)) << path;
  EXPECT_FALSE(old_form);
  EXPECT_TRUE(ParseLoggerData(block.data(), block.size(), data, options));
  version = data.data_version;
  return data.debug;
}

// The program carries the block, and its name table places the application's exception
// handler where the symbol table does.
TEST(DebugInfoTest, ProgramCarriesTheBlock) {
  const std::string quorvel = std::string(QV_BINARY_DIR) + "/bin/quorvel";
  EXPECT_NE(test::RunShellCommand("readelf -S " + quorvel).output.find(" .oldata "),
            std::string::npos);
  int version = 0;
  const auto debug = FileBlockDebug(quorvel, version);
  EXPECT_EQ(version, OstrelCurrentDataVersion);
  const std::string nm =
      test::RunShellCommand("nm -C " + quorvel + " | grep ' qv::TApplication::HandleException('")
          .output;
  ASSERT_FALSE(nm.empty());
  const uintptr_t expected = std::stoull(nm.substr(0, nm.find(' ')), nullptr, 16);
  EXPECT_EQ(FindDebugProcAddress(debug, version, 0, "forms.qv::TApplication.HandleException"),
            expected);
}

// Start and size of each function in the symbol table of the program.
std::vector<std::pair<uintptr_t, uintptr_t>> FunctionSymbols(const std::string& path) {
  std::istringstream symbols(
      test::RunShellCommand("nm -S --defined-only " + path + " | grep -i ' t '").output);
  std::vector<std::pair<uintptr_t, uintptr_t>> functions;
  for (std::string line; std::getline(symbols, line);) {
    uintptr_t start = 0, size = 0;
    char type = 0;
    if (std::sscanf(line.c_str(), "%lx %lx %c", &start, &size, &type) == 3 && size > 0)
      functions.emplace_back(start, size);
  }
  return functions;
}

// For sampled addresses of this test program, file, line and function agree with
// addr2line. Left out: addresses inside inlined code (addr2line names the inlined routine
// there, the line table the routine it was inlined into), code without line information,
// and functions whose full name holds "." or is longer than a stored name's 255 bytes.
TEST(DebugInfoTest, GeneratedLineTableAgreesWithAddr2line) {
  const std::string self = ExeName();
  int version = 0;
  const auto debug = FileBlockDebug(self, version);
  const auto index = BuildLineIndex(debug, version);
  // Addresses spread over the functions of the symbol table.
  const auto functions = FunctionSymbols(self);
  ASSERT_GT(functions.size(), 1000u);
  std::mt19937_64 random(31);
  std::vector<uintptr_t> addresses;
  std::string list;
  for (int i = 0; i < 2000; ++i) {
    const auto& [start, size] = functions[random() % functions.size()];
    addresses.push_back(start + random() % size);
    char hex[32];
    std::snprintf(hex, sizeof hex, "%lx\n", addresses.back());
    list += hex;
  }
  // And the lambdas' call operators, whose names an optimised build's debug information
  // may give without their scope.
  std::istringstream lambdas(
      test::RunShellCommand("nm -S -C --defined-only " + self + " | grep -i ' t .*{lambda('")
          .output);
  for (std::string line; std::getline(lambdas, line) && addresses.size() < 2300;) {
    uintptr_t start = 0, size = 0;
    char type = 0;
    if (std::sscanf(line.c_str(), "%lx %lx %c", &start, &size, &type) != 3 || size == 0) continue;
    addresses.push_back(start + size / 2);
    char hex[32];
    std::snprintf(hex, sizeof hex, "%lx\n", addresses.back());
    list += hex;
  }
  const std::string input = "/tmp/qv-oldata-addresses-" + std::to_string(::getpid());
  std::ofstream(input) << list;
  std::istringstream out(
      test::RunShellCommand("addr2line -a -i -f -C -e " + self + " < " + input).output);
  ::unlink(input.c_str());
  // Groups: the address, then function and place for each (inlined) level.
  std::map<uintptr_t, std::vector<std::pair<std::string, std::string>>> answers;
  uintptr_t current = 0;
  for (std::string line; std::getline(out, line);) {
    if (line.starts_with("0x")) {
      current = std::stoull(line, nullptr, 16);
      answers[current];
    } else if (std::string place; std::getline(out, place)) {
      answers[current].emplace_back(line, place);
    }
  }
  int compared = 0, inlined = 0, unknown = 0, long_names = 0, generated = 0;
  for (const uintptr_t address : addresses) {
    const auto& levels = answers[address];
    if (levels.empty() || levels[0].second.starts_with("??") || levels[0].second.ends_with(":?")) {
      ++unknown;
      continue;
    }
    if (levels.size() > 1) {
      ++inlined;
      continue;
    }
    const auto& [function, place] = levels[0];
    // Static initialisers, the sanitizers' module constructors and the wrappers of
    // thread-local variables are made by the compiler and share their code's debug information.
    if (function.starts_with("_sub_") || function.starts_with("_GLOBAL__sub_") ||
        function.starts_with("TLS wrapper function for ") ||
        function.starts_with("TLS init function for ")) {
      ++generated;
      continue;
    }
    // Names that hold "." or are longer than 255 bytes cannot be stored as they are.
    if (function.size() >= 255 || function.find('.') != std::string::npos) {
      ++long_names;
      continue;
    }
    const std::string path = place.substr(0, place.rfind(':'));
    const std::string file = ExtractFileName(path);
    const std::string line_text = place.substr(place.rfind(':') + 1);
    // addr2line names the including unit, with the header's line, for code of a function
    // defined in a precompiled header: a place past the file's end is no answer.
    if (std::ifstream source(path); source) {
      int lines = 0;
      for (std::string text; std::getline(source, text);) ++lines;
      if (std::atoi(line_text.c_str()) > lines) {
        ++unknown;
        continue;
      }
    }
    TOstrelStackEntry entry;
    const bool found = FindSourceLocation(debug, version, 0, address, entry, index.get());
    SCOPED_TRACE(place + " " + function + " at " + std::to_string(address));
    ASSERT_TRUE(found) << std::hex << address;
    const std::string line_number = line_text.substr(0, line_text.find(' '));
    // addr2line may also name the including unit for a header's line that the line table
    // gives to the header (".h", or a template body such as "vector.tcc").
    const bool header = !entry.unit_name.ends_with(".cpp") && !entry.unit_name.ends_with(".c");
    if (entry.unit_name != file && header && std::to_string(entry.line) == line_number) {
      ++unknown;
      continue;
    }
    // A header without an extension ("shared_mutex") keeps its own name.
    EXPECT_EQ(entry.unit_name, file);
    EXPECT_EQ(std::to_string(entry.line), line_number);
    // Where the debug information of an optimised build has only a function's plain name
    // (the cold part of a split function, a lambda's call operator), addr2line shows that
    // name alone; the report keeps the whole name, which tells whose lambda it is.
    const bool plain =
        function.find("::") == std::string::npos && function.find('(') == std::string::npos;
    const SplitName procedure = SplitFunctionName(entry.procedure_name);
    EXPECT_EQ(plain ? procedure.procedure.substr(0, procedure.parameters) : entry.FunctionName(),
              function);
    ++compared;
  }
  std::printf(
      "compared %d, inlined %d, without line information %d, long or dotted names %d, "
      "generated %d\n",
      compared, inlined, unknown, long_names, generated);
  EXPECT_GE(compared, 500);
}

// Every line row of this test program, not a sample: where a row's code begins and where it
// ends (inside a function), the line table names the row's file and line (or, where the linker laid
// copies of one routine from several units over the same code, the row of one of those copies).
// Catches a row that stretches past its sequence's end over other units' code.
TEST(DebugInfoTest, GeneratedLineTableHoldsEveryLineRow) {
  const std::string self = ExeName();
  int version = 0;
  const auto debug = FileBlockDebug(self, version);
  const auto index = BuildLineIndex(debug, version);
  const std::string rows_file = "/tmp/qv-oldata-rows-" + std::to_string(::getpid());
  ASSERT_EQ(test::RunShellCommand("readelf -W --debug-dump=decodedline " + self + " > " + rows_file)
                .status,
            0);
  // The rows in their sequences' order; a sequence ends with a row without a line ("-").
  struct Span {
    uint64_t start = 0, end = 0;
    std::string file;
    uint32_t line = 0;
  };
  std::vector<Span> spans;
  {
    std::ifstream in(rows_file);
    std::vector<Span> sequence;
    for (std::string text; std::getline(in, text);) {
      std::istringstream fields(text);
      std::string file, line, address;
      if (!(fields >> file >> line >> address) || (!address.starts_with("0x") && address != "0") ||
          (line != "-" && line.find_first_not_of("0123456789") != std::string::npos))
        continue;
      const uint64_t at = std::stoull(address, nullptr, 16);
      if (!sequence.empty()) sequence.back().end = at;
      if (line != "-") {
        sequence.push_back({at, at, file, uint32_t(std::stoul(line))});
        continue;
      }
      // A sequence at address 0 belongs to code the linker dropped.
      if (!sequence.empty() && sequence.front().start != 0) {
        for (const Span& span : sequence)
          if (span.end > span.start) spans.push_back(span);
      }
      sequence.clear();
    }
  }
  ::unlink(rows_file.c_str());
  ASSERT_GT(spans.size(), 10000u);
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.start < b.start; });
  std::vector<uint64_t> max_end;
  for (const Span& span : spans)
    max_end.push_back(std::max(max_end.empty() ? 0 : max_end.back(), span.end));
  // Only code counts: the padding between functions may carry a row, but no call stack
  // leads there.
  auto functions = FunctionSymbols(self);
  std::sort(functions.begin(), functions.end());
  const auto in_function = [&](uint64_t at) {
    auto it = std::upper_bound(functions.begin(), functions.end(), std::pair(at, UINTPTR_MAX));
    for (int n = 0; it != functions.begin() && n < 16; ++n) {
      --it;
      if (at - it->first < it->second) return true;
    }
    return false;
  };
  int wrong = 0;
  for (const Span& span : spans) {
    for (const uint64_t at : {span.start, span.end - 1}) {
      if (!in_function(at)) continue;
      TOstrelStackEntry entry;
      const bool found = FindSourceLocation(debug, version, 0, at, entry, index.get());
      // The rows that hold this address.
      bool matches = false;
      auto i = std::size_t(std::upper_bound(spans.begin(), spans.end(), at,
                                            [](uint64_t a, const Span& s) { return a < s.start; }) -
                           spans.begin());
      for (; found && !matches && i > 0 && max_end[i - 1] > at; --i) {
        const Span& other = spans[i - 1];
        matches = at < other.end && other.file == entry.unit_name && other.line == entry.line;
      }
      if (!matches && ++wrong <= 10) {
        ADD_FAILURE() << std::hex << "0x" << at << ": row " << span.file << ":" << std::dec
                      << span.line << ", line table "
                      << (found ? entry.unit_name + ":" + std::to_string(entry.line) : "nothing");
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "of " << spans.size() << " rows";
}

// A lambda's call operator, or a class local to a function, is named through the function
// that holds it: that function's parameter list belongs to the scope.
TEST(NameSplitTest, LocalEntitiesKeepTheirFunctionInTheScope) {
  struct Case {
    const char *name, *scope, *procedure;
  } cases[] = {
      {"qv::A::f(int) const", "qv::A", "f"},
      {"qv::(anonymous namespace)::T_Body_Test::TestBody()::{lambda()#1}::operator()() const",
       "qv::(anonymous namespace)::T_Body_Test::TestBody()::{lambda()#1}", "operator()"},
      {"qv::A::g(int) const &::Local::run(std::vector<int, std::allocator<int> >)",
       "qv::A::g(int) const &::Local", "run"},
      {"main", "", "main"},
      {"qv::B::h(int (*)(char))", "qv::B", "h"},
  };
  for (const Case& c : cases) {
    const SplitName split = SplitFunctionName(c.name);
    EXPECT_EQ(split.scope, c.scope) << c.name;
    EXPECT_EQ(split.procedure.substr(0, split.parameters), c.procedure) << c.name;
    EXPECT_EQ(split.scope.empty() ? split.procedure : split.scope + "::" + split.procedure, c.name);
  }
}

// The libraries stand below the build's tools: what a tool shares with a library lives in
// the library, and no library source includes a tool's header.
TEST(NameSplitTest, NoLibraryIncludesAToolsHeader) {
  int sources = 0;
  for (const char* folder :
       {"audio", "tags", "app", "net", "cddb", "skin", "crashlog", "platform"}) {
    for (const auto& file :
         std::filesystem::recursive_directory_iterator(std::string(QV_SOURCE_DIR) + "/" + folder)) {
      if (!file.is_regular_file()) continue;
      std::ifstream in(file.path());
      ++sources;
      for (std::string line; std::getline(in, line);)
        EXPECT_FALSE(line.starts_with("#include \"tools/")) << file.path() << ": " << line;
    }
  }
  EXPECT_GT(sources, 100);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// A packed block is unpacked at first only as far as its name table; the line tables follow
// when a lookup needs them, and read as the whole block reads.
TEST(DebugInfoTest, PackedLineTablesWaitUntilALookupNeedsThem) {
  std::vector<uint8_t> entries;
  const std::string go = "TForm1.Go";
  oldata::AppendLineEntry(entries, 4, 2, &go);
  std::vector<oldata::UnitBlock> units;
  for (uint32_t u = 0; u < 20000; ++u)
    units.push_back({"Unit" + std::to_string(u) + ".cpp", 10, u * 0x10, 8, entries});
  const std::vector<uint8_t> block = oldata::BuildBlock(
      oldata::DefaultOptionStream(), oldata::BuildDebugInfo({{"Main.Go", 0x100}}, units), 454);
  TOstrelLoggerData whole, head;
  TOstrelModuleOptions options;
  ASSERT_TRUE(ParseLoggerData(block.data(), block.size(), whole, options));
  ASSERT_TRUE(ParseLoggerHead(block.data(), block.size(), head, options));
  ASSERT_NE(head.packed, nullptr);
  EXPECT_LT(head.debug.size() * 100, whole.debug.size());
  EXPECT_EQ(FindDebugProcAddress(head.debug, 454, 0x10000, "Main.Go"), 0x11100u);
  TOstrelStackEntry found;
  EXPECT_FALSE(FindSourceLocation(head.debug, 454, 0, 0x1000 + 0x9C40, found));
  TOstrelModuleEntry module;
  module.data_version = 454;
  module.debug = head.debug;
  module.packed = head.packed;
  EXPECT_EQ(UnpackedDebugStream(module), whole.debug);
  EXPECT_EQ(module.packed, nullptr);
  ASSERT_TRUE(FindSourceLocation(module.debug, 454, 0, 0x1000 + 0x9C40, found));
  EXPECT_EQ(found.unit_name, "Unit2500.cpp");
}

}  // namespace
}  // namespace qv
