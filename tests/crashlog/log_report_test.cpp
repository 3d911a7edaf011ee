// The report text against hand-made goldens, and the log file's keeping rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>

#include "crashlog/log_report.h"
#include "crashlog/send_report.h"
#include "platform/base/streams.h"
#include "tests/fixtures/locale_env.h"
#include "tests/fixtures/temp_dir.h"

namespace qv {
namespace {

std::string Dashes(std::size_t n) {
  return std::string(n, '-');
}

TEST(LogReport, HeaderAlignsFieldsAndDropsEmptySections) {
  TLogItem item;
  item.AddSection("Application");
  item.AddField("Start Date", "x");
  item.AddField("Name", "y\r\nz");
  item.AddSection("Active Controls");
  item.AddField("Form Class", "a", false);
  item.AddField("Form Text", "b", false);
  item.AddSection("Computer");
  item.AddField("Name", "host", false);
  item.AddField("Total Memory", "7 Mb");
  item.AddSection("Empty");
  item.AddField("Gone", "g", false);
  EXPECT_EQ(item.Text(), "Application:\r\n" + Dashes(22) +
                             "\r\n"
                             "  1.1 Start Date: x\r\n"
                             "  1.2 Name      : y  z\r\n"
                             "\r\n"
                             "Computer:\r\n" +
                             Dashes(24) +
                             "\r\n"
                             "  3.2 Total Memory: 7 Mb");
}

TEST(LogReport, RuleIsAsLongAsTheLongestFieldLineNotTheLabel) {
  TLogItem item;
  item.AddSection("Operating System");
  item.AddField("Type", "x");
  EXPECT_EQ(item.Text(), "Operating System:\r\n" + Dashes(13) + "\r\n  1.1 Type: x");
}

TEST(LogReport, ConsoleHeaderLeavesActiveControlsOutAndEndsMessageWithDot) {
  TOstrelModuleOptions options;
  TOstrelReportFacts facts;
  facts.address = 0x401000;
  facts.type = "TDiscError";
  facts.message = "Tray jammed";
  facts.has_message = true;
  facts.console = true;
  facts.parameters = {"-auto", "a b"};
  const std::string header = BuildReportHeader(facts, options);
  EXPECT_EQ(header.rfind("OstrelLog 4.5.4\r\n\r\nApplication:\r\n", 0), 0u);
  EXPECT_NE(header.find("\r\n  1.4 Parameters      : \"-auto\" \"a b\"\r\n"), std::string::npos);
  EXPECT_NE(header.find("\r\n  2.2 Address: 0000000000401000\r\n"), std::string::npos);
  EXPECT_NE(header.find("\r\n  2.5 Message: Tray jammed.\r\n"), std::string::npos);
  EXPECT_EQ(header.find("Active Controls"), std::string::npos);
  facts.console = false;
  facts.has_message = false;
  facts.control_class = "TEdit";
  facts.control_text = "secret";
  facts.control_password = true;
  const std::string gui = BuildReportHeader(facts, options);
  EXPECT_NE(gui.find("\r\n  2.5 Message: Unknown error message.\r\n"), std::string::npos);
  EXPECT_NE(gui.find("  3.4 Control Text : ******\r\n"), std::string::npos);
  // A web-server extension or CGI program has no windows to name either.
  facts.web_host = true;
  EXPECT_EQ(BuildReportHeader(facts, options).find("Active Controls"), std::string::npos);
}

TEST(LogReport, LogSectionBitsNineToTwelveSwitchTheWindowFields) {
  TOstrelReportFacts facts;
  facts.form_class = "TMainForm";
  facts.form_text = "Quorvel";
  facts.control_class = "TButton";
  facts.control_text = "Rip";
  const char* lines[] = {"  3.1 Form Class", "  3.2 Form Text", "  3.3 Control Class",
                         "  3.4 Control Text"};
  for (int bit = 9; bit <= 12; ++bit) {
    TOstrelModuleOptions options;
    options.SetLogSections(~(1u << bit));
    const std::string header = BuildReportHeader(facts, options);
    for (int field = 0; field < 4; ++field) {
      EXPECT_EQ(header.find(lines[field]) == std::string::npos, field == bit - 9)
          << "bit " << bit << ", field " << lines[field];
    }
  }
  // The bits beside them, and those of the other sections, switch nothing.
  TOstrelModuleOptions options;
  options.SetLogSections(0xFu << 9);
  const std::string kept = BuildReportHeader(facts, options);
  for (const char* line : lines) EXPECT_NE(kept.find(line), std::string::npos) << line;
  EXPECT_NE(kept.find("  4.1 Name"), std::string::npos);
  EXPECT_NE(kept.find("  1.1 Start Date"), std::string::npos);
  options.SetLogSections(~(0xFu << 9));
  EXPECT_EQ(BuildReportHeader(facts, options).find("Active Controls"), std::string::npos);
  EXPECT_EQ(std::string(kLogFieldKeys[LogFieldBit("Exception|Message")]), "Exception|Message");
  EXPECT_EQ(LogFieldBit("Operating System|Language"), 22);
  EXPECT_EQ(LogFieldBit("Application|Name/Description"), -1);
}

TEST(LogReport, TablesGolden) {
  TOstrelModuleOptions options;
  auto module = std::make_shared<TOstrelModuleEntry>();
  module->handle = 0x400000;
  module->path = "/usr/lib/libx.so.1";
  module->version = "1";
  module->file_size = 123;
  TOstrelStackList stack(3);
  stack[0] = {skLine, module, 0x401000, "main.cpp", "", "main", 12};
  stack[1] = {skModule, module, 0x402000, "", "", "", 0};
  stack[2] = {skLine, module, 0x401010, "main.cpp", "", "main", 0};
  const std::string rule = Dashes(65), modules_rule = Dashes(62);
  EXPECT_EQ(BuildReportTables(stack, {module}, options),
            "Call Stack Information:\r\n" + rule +
                "\r\n"
                "|Address         |Module   |Unit    |Class|Procedure/Method|Line|\r\n" +
                rule +
                "\r\n"
                "|0000000000401000|libx.so.1|main.cpp|     |main            |12  |\r\n"
                "|0000000000401010|libx.so.1|main.cpp|     |main            |    |\r\n" +
                rule +
                "\r\n\r\n"
                "Modules Information:\r\n" +
                modules_rule +
                "\r\n"
                "|Handle          |Name     |Description|Version|Size|Path    |\r\n" +
                modules_rule +
                "\r\n"
                "|0000000000400000|libx.so.1|           |1      |123 |/usr/lib|\r\n" +
                modules_rule);
}

TEST(LogReport, CpuBlockGolden) {
  TOstrelModuleOptions options;
  TOstrelReportFacts facts;
  const std::string head = "Registers:\r\n" + Dashes(45) + "\r\n";
  const std::string stack_head = "\r\nStack:                               Memory Dump:\r\n" +
                                 Dashes(34) + "   " + Dashes(83) + "\r\n";
  EXPECT_EQ(BuildCpuBlock(facts, options),
            head +
                "RAX: ????   RDI: ????\r\nRBX: ????   RSI: ????\r\nRCX: ????   RSP: ????\r\n"
                "RDX: ????   RIP: ????\r\nRBP: ????   R8 : ????\r\nR9 : ????   R10: ????\r\n"
                "R11: ????   R12: ????\r\nR13: ????   R14: ????\r\nR15: ????\r\n" +
                stack_head);
  TOstrelRegisters r;
  r.rip = 0xABCDEF;
  r.r15 = 1;
  facts.registers = r;
  uint64_t words[16] = {0x1122334455667788};
  uint8_t code[256] = {'O', 'K', 0x00, 0x7F, 0xE8};
  facts.stack_pointer = reinterpret_cast<uintptr_t>(words);
  facts.address = reinterpret_cast<uintptr_t>(code);
  const std::string block = BuildCpuBlock(facts, options);
  EXPECT_NE(block.find("RDX: 0000000000000000   RIP: 0000000000ABCDEF\r\n"), std::string::npos);
  EXPECT_NE(block.find("R15: 0000000000000001\r\n"), std::string::npos);
  char first[128];
  std::snprintf(first, sizeof first, "%016lX: 1122334455667788   %016lX: 4F 4B 00 7F E8 ",
                (unsigned long)facts.stack_pointer, (unsigned long)facts.address);
  const std::size_t at = block.find(stack_head);
  ASSERT_NE(at, std::string::npos);
  const std::string dump = block.substr(at + stack_head.size());
  EXPECT_EQ(dump.substr(0, std::strlen(first)), first);
  EXPECT_NE(dump.find("00  OK" + std::string(14, '.') + "\r\n"), std::string::npos);
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 15);
}

TEST(LogReport, SystemFactsAreFormatted) {
  TOstrelReportFacts facts;
  GatherSystemFacts(facts);
  EXPECT_TRUE(std::regex_match(facts.total_memory, std::regex("[0-9]+ Mb"))) << facts.total_memory;
  EXPECT_TRUE(std::regex_match(facts.free_disk, std::regex("[0-9]+(\\.[0-9]{1,2})? Gb")))
      << facts.free_disk;
  EXPECT_FALSE(facts.computer.empty());
  EXPECT_FALSE(facts.os_build.empty());
  EXPECT_GT(facts.start_time, 0);
}

// The start is rounded down at full precision, so it never follows an exception taken in
// the same moment; a start that the clocks put later anyway is the exception's second.
TEST(LogReport, StartDateNeverFollowsTheException) {
  // At 1000.2 s, a process 0.6 s old began at 999.6 s; its exception at 999.9 s is in
  // second 999.
  EXPECT_EQ(ProcessStartTime({1000, 200000000}, 50.6, 5000, 100), 999);
  EXPECT_EQ(ProcessStartTime({1000, 0}, 50.0, 5000, 100), 1000);
  // A start after the uptime (clocks that disagree) is now.
  EXPECT_EQ(ProcessStartTime({1000, 900000000}, 40.0, 5000, 100), 1000);
  EXPECT_EQ(ProcessStartTime({1000, 0}, 52.5, 5000, 0), 0);
  TOstrelReportFacts facts;
  facts.exception_time = std::time(nullptr) - 3600;
  GatherSystemFacts(facts);
  EXPECT_EQ(facts.start_time, facts.exception_time);
}

// The program never sets its locale: the language is that of the locale the user's
// environment selects for messages, in setlocale's order of the variables.
TEST(LogReport, LanguageOfTheLocaleTheEnvironmentSelects) {
  test::TempDir dir;
  ASSERT_EQ(test::CompileLocale(dir.Path(), "de_DE", "UTF-8", "de_DE.UTF-8"), "");
  test::ScopedEnv env;
  env.Set("LOCPATH", dir.Path().string());
  const struct {
    const char *all, *messages, *lang, *language;
  } cases[] = {
      {"", "", "de_DE.UTF-8", "German"},
      {"", "de_DE.UTF-8", "C", "German"},
      {"de_DE.UTF-8", "C", "C", "German"},
      {"C", "de_DE.UTF-8", "de_DE.UTF-8", "C"},
      {"", "", "", "C"},
      {"", "", "xx_YY.UTF-8", "xx_YY.UTF-8"},  // not installed: named as selected
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.all) + "|" + c.messages + "|" + c.lang);
    env.Set("LC_ALL", c.all);
    env.Set("LC_MESSAGES", c.messages);
    env.Set("LANG", c.lang);
    TOstrelReportFacts facts;
    {
      const test::LocalePathLeaksIgnored ignored;
      GatherSystemFacts(facts);
    }
    EXPECT_EQ(facts.os_language, c.language);
  }
}

// Both dates of the header read as the report's mail Date header does.
TEST(LogReport, HeaderDatesInTheMailForm) {
  TOstrelModuleOptions options;
  TOstrelReportFacts facts;
  facts.start_time = 1780000000 - 86400 * 27;  // a day of the month below 10
  facts.exception_time = 1780000000;
  const std::string header = BuildReportHeader(facts, options);
  const std::string start = RFC822Date(facts.start_time);
  EXPECT_TRUE(std::regex_match(start, std::regex("[A-Z][a-z]{2}, [1-9] [A-Z][a-z]{2} 2026 "
                                                 "[0-9]{2}:[0-9]{2}:[0-9]{2} [-+][0-9]{4}")))
      << start;
  EXPECT_NE(header.find("  1.1 Start Date      : " + start + "\r\n"), std::string::npos) << header;
  EXPECT_NE(header.find("  2.1 Date   : " + RFC822Date(facts.exception_time) + "\r\n"),
            std::string::npos)
      << header;
}

TEST(LogReport, RequestSectionCannotEndTheReport) {
  TOstrelModuleOptions options;
  EXPECT_EQ(AddRequestSection("R", "one\r\n\r\n\r\n\r\ntwo", options),
            "R\r\nRequest:\r\n" + Dashes(40) + "\r\none\r\ntwo");
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv_olf_XXXXXX";
    dir_ = ::mkdtemp(pattern);
    file_ = dir_ + "/test.olf";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  static std::string Report(const std::string& message) {
    TOstrelModuleOptions options;
    TOstrelReportFacts facts;
    facts.address = 0x1234;
    facts.module = "m";
    facts.type = "T";
    facts.message = message;
    facts.has_message = true;
    return BuildReport(facts, {}, {}, options);
  }
  std::string dir_, file_;
};

TEST_F(LogFileTest, KeepsTheNewestReportsSkipsDuplicatesAndDropsUnterminated) {
  TLogFile log(file_);
  log.Load();
  EXPECT_FALSE(log.IsDuplicate("0000000000001234", "m", "T", "a."));
  for (const char* m : {"a", "b", "c"}) log.Append(Report(m), 2);
  log.Save();
  TLogFile again(file_);
  again.Load();
  ASSERT_EQ(again.Reports().size(), 2u);
  EXPECT_NE(again.Reports()[0].find("2.5 Message: b."), std::string::npos);
  EXPECT_TRUE(again.IsDuplicate("0000000000001234", "m", "T", "c."));
  EXPECT_FALSE(again.IsDuplicate("0000000000001234", "m", "T", "a."));
  EXPECT_FALSE(again.IsDuplicate("0000000000001235", "m", "T", "c."));
  again.Append(Report("d"), 1);
  EXPECT_EQ(again.Reports().size(), 1u);
  // A report cut short (no empty lines after it) is dropped when the file is read again.
  again.Save();
  std::ofstream(file_, std::ios::app) << Report("cut");
  TLogFile third(file_);
  third.Load();
  ASSERT_EQ(third.Reports().size(), 1u);
  EXPECT_NE(third.Reports()[0].find("Message: d."), std::string::npos);
  EXPECT_EQ(third.Reports()[0].substr(third.Reports()[0].size() - 6), "\r\n\r\n\r\n");
}

// Text the log cannot take apart is never lost: such a file is read as far as it goes and
// set aside whole before anything replaces it.
TEST_F(LogFileTest, AnUnreadableLogIsSetAsideWhole) {
  const std::string a = Report("a") + "\r\n\r\n\r\n\r\n\r\n";
  const std::string b = Report("b") + "\r\n\r\n\r\n\r\n\r\n";
  const struct {
    const char* name;
    std::string text;
    std::size_t reports;
    bool intact;
  } cases[] = {
      {"first report at byte 1", "\n" + a + b, 1, false},
      {"first report at byte 1 after a space", " " + a, 0, false},
      {"text between reports", a + "junk\r\n" + b, 2, false},
      {"leading line ends", "\r\n" + a + b, 2, true},
      {"written by the log", a + b, 2, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << c.text;
    TLogFile log(file_);
    ASSERT_NO_THROW(log.Load());
    EXPECT_EQ(log.Reports().size(), c.reports);
    EXPECT_EQ(log.Intact(), c.intact);
    if (c.intact) continue;
    const std::string aside = log.SetAside();
    EXPECT_EQ(aside, file_ + ".unread");
    EXPECT_EQ(ReadFileBytes(aside), c.text);
    EXPECT_FALSE(std::ifstream(file_).good());
    // A second one does not replace the first.
    std::ofstream(file_, std::ios::binary) << c.text;
    EXPECT_EQ(log.SetAside(), file_ + ".unread-2");
    std::remove(aside.c_str());
    std::remove((file_ + ".unread-2").c_str());
  }
}

// A module loads elsewhere in every run: the same fault has the same offset into its module,
// which the stored report's module table gives.
TEST_F(LogFileTest, DuplicatesAreFoundByTheirOffsetIntoTheModule) {
  TOstrelModuleOptions options;
  auto module = std::make_shared<TOstrelModuleEntry>();
  module->handle = 0x7F1200000000;
  module->path = "/opt/quorvel/libm.so";
  auto other = std::make_shared<TOstrelModuleEntry>();
  other->handle = 0x7F1300000000;
  other->path = "/opt/quorvel/other.so";
  TOstrelReportFacts facts;
  facts.address = module->handle + 0x4321;
  facts.module = "libm.so";
  facts.type = "T";
  facts.message = "c";
  facts.has_message = true;
  TLogFile log(file_);
  log.Append(BuildReport(facts, {}, {other, module}, options), 32);
  const uintptr_t base = 0x55AA00000000;
  const struct {
    uintptr_t address, handle;
    const char* module;
    bool duplicate;
  } cases[] = {
      {base + 0x4321, base, "libm.so", true},
      {base + 0x4322, base, "libm.so", false},
      {base + 0x4321, base, "other.so", false},
      {0x7F1200004321, 0, "libm.so", true},  // without a load address: the same address only
      {base + 0x4321, 0, "libm.so", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ReportAddress(c.address));
    EXPECT_EQ(log.IsDuplicate(ReportAddress(c.address), c.module, "T", "c.", c.handle),
              c.duplicate);
  }
}

}  // namespace
}  // namespace qv
