#include "crashlog/module_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "crashlog/trace_log.h"
#include "platform/base/streams.h"

namespace qv {
namespace {

using namespace std::string_literals;

// Builds a stream byte by byte, as the format describes it.
struct Bytes {
  std::vector<uint8_t> data;
  Bytes& B(uint8_t b) {
    data.push_back(b);
    return *this;
  }
  Bytes& I(uint32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(uint8_t(v >> (8 * i)));
    return *this;
  }
  Bytes& W(uint16_t v) { return B(uint8_t(v)).B(uint8_t(v >> 8)); }
  Bytes& S(const std::string& s) {
    I(uint32_t(s.size()));
    for (const char c : s) data.push_back(uint8_t(c) ^ 0xA7);
    return *this;
  }
};

std::vector<uint8_t> Saved(const TOstrelModuleOptions& options) {
  TMemoryStream stream;
  options.SaveToStream(stream);
  return stream.Bytes();
}

void Load(TOstrelModuleOptions& options, const std::vector<uint8_t>& bytes, int version) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  stream.SetPosition(0);
  options.LoadFromStream(stream, version);
}

// Items 1 to 31 of the default set.
Bytes DefaultHead() {
  Bytes b;
  b.B(1).B(1).B(0).B(1).B(0).B(0).B(0).B(1).B(1).B(0).B(1).B(0).I(60);
  b.S("The application seems to be frozen.").S("crashlog@localhost").S("").W(25).S("").S("");
  b.B(1).B(1).I(32).I(3).S("").S("").B(0).I(0xFFFFFFFF).S("").I(0).S("");
  return b;
}

// The slot of a virtual member in the class's table: a pointer to a virtual member holds
// one more than the slot's byte offset.
template <typename Member>
std::ptrdiff_t Slot(Member member) {
  std::ptrdiff_t raw = 0;
  std::memcpy(&raw, &member, sizeof raw);
  return (raw - 1) / std::ptrdiff_t(sizeof(void*));
}

// Derived option sets and other modules' loggers rely on the order of the virtual members.
TEST(ModuleOptionsTest, VirtualMembersKeepTheirSlotOrder) {
  using O = TOstrelModuleOptions;
  const std::vector<std::ptrdiff_t> slots = {
      Slot(&O::Changed),
      Slot(&O::SetActivateLog),
      Slot(&O::SetFreezeActivate),
      Slot(&O::Assign),
      Slot(&O::SetDefaults),
      Slot(&O::SaveToStream),
      Slot(static_cast<void (O::*)(TStream&)>(&O::LoadFromStream))};
  for (std::size_t i = 1; i < slots.size(); ++i) EXPECT_EQ(slots[i], slots[0] + std::ptrdiff_t(i));
}

TEST(ModuleOptionsTest, DefaultStreamIsTheDocumentedLayout) {
  Bytes expected = DefaultHead();
  // The texts follow, the inner line break of text 3 kept.
  expected.S("Information.").S("Question.").S("Error.");
  expected.S(
      "An error has occurred during program execution.\r\nPlease read the following "
      "information for further details.");
  const std::vector<uint8_t> saved = Saved(TOstrelModuleOptions());
  ASSERT_GT(saved.size(), expected.data.size());
  EXPECT_EQ(std::vector<uint8_t>(saved.begin(), saved.begin() + expected.data.size()),
            expected.data);
  // 67 more texts, the last one "Memory Dump", end the stream.
  const std::size_t end = saved.size();
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + end - 15, saved.end()),
            Bytes().S("Memory Dump").data);
}

// Every item away from its default, so that a field saved or loaded out of place shows.
TEST(ModuleOptionsTest, SaveAndLoadGiveBackTheValues) {
  Bytes b;
  b.B(0).B(0).B(3).B(0).B(1).B(1).B(1).B(0).B(0).B(3).B(0).B(1).I(7).S("Frozen.").S("f@x");
  b.S("127.0.0.1").W(2525).S("user").S("p\xA7ss\x00w"s).B(0).B(0).I(5).I(9).S("a@x; b@y");
  b.S("Crash").B(swSMTPServer).I(0x1E05).S("/var/log/q.olf").I(1).S("EFoo").S("No.");
  b.S("Line one\r\nline two\r\n");
  for (int i = 0; i < OstrelTextCount; ++i) b.S("Text " + std::to_string(i));
  TOstrelModuleOptions o;
  o.SetActivateLog(false);  // not part of the stream: loading leaves it
  Load(o, b.data, OstrelCurrentDataVersion);
  EXPECT_EQ(Saved(o), b.data);
  EXPECT_FALSE(o.ActivateLog());
  EXPECT_EQ(o.LogOptions(), loNoDuplicateErrors | loAskReproduceSteps);
  EXPECT_EQ(o.SMTPPort(), 2525);
  EXPECT_EQ(o.SMTPPassword(), "p\xA7ss\x00w"s);
  EXPECT_EQ(o.ErrorsNumberToSave(), 5);
  EXPECT_EQ(o.SendWay(), swSMTPServer);
  EXPECT_EQ(o.ExceptionFilterMessages()[0], "No.");
  EXPECT_EQ(o.Texts(70), "Text 70");
}

TEST(ModuleOptionsTest, AFinalLoneLineBreakIsNotStored) {
  const struct {
    std::string text, loaded;
  } cases[] = {
      {"Subject\r\n", "Subject"}, {"\r\n", ""}, {"a\r\nb\r\n", "a\r\nb\r\n"},
      {"a\r\nb", "a\r\nb"},       {"\n", "\n"}, {"x\r", "x\r"},
      {"\r\n\r\n", "\r\n\r\n"},   {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TOstrelModuleOptions a, b;
    a.SetEMailSubject(c.text);
    Load(b, Saved(a), OstrelCurrentDataVersion);
    EXPECT_EQ(b.EMailSubject(), c.loaded);
  }
}

TEST(ModuleOptionsTest, ShorterFilterListIsPaddedWithEmptyStrings) {
  TOstrelModuleOptions a;
  TStringList classes, messages;
  classes.SetCommaText("EAbort,EFoo,EBar");
  messages.Add("Ignored.");
  a.SetExceptionFilterClasses(classes);
  a.SetExceptionFilterMessages(messages);
  const std::vector<uint8_t> saved = Saved(a);
  Bytes filters;
  filters.I(3).S("EAbort").S("Ignored.").S("EFoo").S("").S("EBar").S("");
  const std::vector<uint8_t> head = DefaultHead().data;
  const std::size_t at = head.size() - 8;  // the default's count and EMailMessage
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + at, saved.begin() + at + filters.data.size()),
            filters.data);
  TOstrelModuleOptions b;
  Load(b, saved, OstrelCurrentDataVersion);
  ASSERT_EQ(b.ExceptionFilterMessages().Count(), 3);
  EXPECT_EQ(b.ExceptionFilterClasses()[2], "EBar");
  EXPECT_EQ(b.ExceptionFilterMessages()[0], "Ignored.");
  EXPECT_EQ(b.ExceptionFilterMessages()[2], "");
}

// The log trimming relies on at least one report being kept.
TEST(ModuleOptionsTest, ErrorsNumberToSaveIsAtLeastOne) {
  TOstrelModuleOptions o;
  o.SetErrorsNumberToSave(-4);
  EXPECT_EQ(o.ErrorsNumberToSave(), 1);
  std::vector<uint8_t> bytes = Saved(TOstrelModuleOptions());
  bytes[93] = 0;  // item 22, behind the fixed part and five default strings
  Load(o, bytes, OstrelCurrentDataVersion);
  EXPECT_EQ(o.ErrorsNumberToSave(), 1);
}

// Streams of older versions: the fields they had, in their sense then.
TEST(ModuleOptionsTest, OlderVersionsLoadWithTheirConversions) {
  const auto stream = [](int version, uint8_t send_way, const std::string& host) {
    Bytes b;
    b.B(1).B(0).B(1).B(0).B(1).B(1).B(1).B(0).B(0);  // items 1-9, dialog "hidden" = 0
    if (version >= 403) b.B(2);
    if (version >= 420) {
      b.B(0).B(1).I(version < 422 ? 45000 : 45).S("Frozen").S("f@x").S(host).W(26).S("u").S("p");
      b.B(0).B(0).I(9).I(4).S("to@x").S("Subj").B(send_way).I(0x0F);
      if (version < 450) b.B(0xEE);
      b.S("/tmp").I(1).S("EFoo").S("").S("Body");
      const int texts = version >= 450 ? 71 : 59;
      for (int i = 0; i < texts; ++i) b.S("T" + std::to_string(i));
    }
    return b.data;
  };
  struct Case {
    int version;
    uint8_t send_way;
    std::string host;
    uint8_t expected_way;
  };
  const Case cases[] = {{401, 0, "", 0}, {403, 0, "", 0},     {420, 1, "smtp", 2},
                        {421, 1, "", 1}, {422, 5, "smtp", 2}, {450, 0, "smtp", 0},
                        {450, 3, "", 3}, {454, 2, "", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    TOstrelModuleOptions o;
    const std::vector<uint8_t> bytes = stream(c.version, c.send_way, c.host);
    Load(o, bytes, c.version);
    EXPECT_EQ(o.ShowExceptionDialog(), c.version < 450);
    EXPECT_FALSE(o.FiltersActive());
    EXPECT_EQ(o.LogOptions(), 1);
    EXPECT_TRUE(o.SendWholeLog());
    EXPECT_EQ(o.DetailsPage(), c.version >= 403 ? 2 : 0);
    if (c.version < 420) {
      EXPECT_TRUE(o.CustomDialogLook());
      EXPECT_EQ(o.FreezeTimeout(), 60);
      EXPECT_EQ(o.SMTPPort(), 25);
      EXPECT_EQ(o.Texts(0), "Information.");
      continue;
    }
    EXPECT_FALSE(o.CustomDialogLook());
    EXPECT_EQ(o.FreezeTimeout(), 45);
    EXPECT_EQ(o.SMTPPort(), 26);
    EXPECT_EQ(o.SendWay(), c.expected_way);
    EXPECT_EQ(o.LogSections(), 0x0Fu);
    EXPECT_EQ(o.OutputPath(), "/tmp");
    EXPECT_EQ(o.EMailMessage(), "Body");
    EXPECT_EQ(o.Texts(58), "T58");
    EXPECT_EQ(o.Texts(59), c.version >= 450 ? "T59" : "Request");
  }
}

TEST(ModuleOptionsTest, TruncatedOrCorruptStreamsAreRefused) {
  TOstrelModuleOptions defaults;
  const std::vector<uint8_t> good = Saved(defaults);
  TOstrelModuleOptions o;
  o.SetSMTPHost("kept");
  const std::vector<uint8_t> before = Saved(o);
  for (std::size_t length = 0; length < good.size(); ++length) {
    EXPECT_THROW(Load(o, std::vector<uint8_t>(good.begin(), good.begin() + length), 454),
                 EOptionStreamError)
        << length;
  }
  std::vector<std::vector<uint8_t>> corrupt;
  Bytes huge_string;
  huge_string.data = std::vector<uint8_t>(good.begin(), good.begin() + 16);
  huge_string.I(0x7FFFFFF0);
  corrupt.push_back(huge_string.data);
  const std::size_t count_at = DefaultHead().data.size() - 8;
  for (const uint32_t count : {0x80000000u, 0x10000000u}) {
    std::vector<uint8_t> bytes = good;
    for (int i = 0; i < 4; ++i) bytes[count_at + i] = uint8_t(count >> (8 * i));
    corrupt.push_back(bytes);
  }
  for (const auto& bytes : corrupt) EXPECT_THROW(Load(o, bytes, 454), EOptionStreamError);
  EXPECT_EQ(Saved(o), before);
  // Whatever follows the options in a data block is not theirs.
  std::vector<uint8_t> longer = good;
  longer.insert(longer.end(), {1, 2, 3});
  EXPECT_NO_THROW(Load(o, longer, 454));
}

// A data block written by another tool may hold one value out of range: that option takes
// its default, the trace says so, and every other option is kept.
TEST(ModuleOptionsTest, OneOptionOutOfRangeKeepsTheRest) {
  TOstrelModuleOptions source;
  source.SetSMTPHost("relay.example");
  source.SetDetailsPage(2);
  source.SetSendWay(swSMTPClient);
  source.SetLogSections(0x12345678);
  source.SetEMailSubject("kept subject");
  const std::vector<uint8_t> good = Saved(source);
  const std::vector<uint8_t> sections = {0x78, 0x56, 0x34, 0x12};
  const auto at = std::search(good.begin(), good.end(), sections.begin(), sections.end());
  ASSERT_NE(at, good.end());
  const std::size_t way_at = std::size_t(at - good.begin()) - 1;
  ASSERT_EQ(good[way_at], swSMTPClient);
  const struct {
    std::size_t offset;
    uint8_t value;
    int details, way;
    const char* trace;
  } cases[] = {{9, 4, 0, swSMTPClient, "bad details page 4"},
               {9, 255, 0, swSMTPClient, "bad details page 255"},
               {way_at, 4, 2, swNone, "bad sending way 4"},
               {way_at, 200, 2, swNone, "bad sending way 200"}};
  SetTraceSwitches("-debug");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.trace);
    std::vector<uint8_t> bytes = good;
    bytes[c.offset] = c.value;
    TOstrelModuleOptions o;
    ASSERT_NO_THROW(Load(o, bytes, 454));
    EXPECT_EQ(o.DetailsPage(), c.details);
    EXPECT_EQ(o.SendWay(), c.way);
    EXPECT_EQ(o.SMTPHost(), "relay.example");
    EXPECT_EQ(o.EMailSubject(), "kept subject");
    EXPECT_EQ(o.LogSections(), 0x12345678u);
    EXPECT_NE(TraceLines().find(c.trace), std::string::npos);
  }
  SetTraceSwitches("");
}

TEST(ModuleOptionsTest, OutputFileFollowsTheOutputPath) {
  const struct {
    std::string output_path, expected;
  } cases[] = {
      {"", "/opt/q/bin/quorvel.olf"},
      {"/var/log/q", "/var/log/q/quorvel.olf"},
      {"/var/log/q/", "/var/log/q/quorvel.olf"},
      {"/var/log/All.OLF", "/var/log/All.OLF"},
  };
  for (const auto& c : cases) {
    TOstrelModuleOptions o;
    o.SetModuleName("/opt/q/bin/quorvel");
    o.SetOutputPath(c.output_path);
    EXPECT_EQ(o.OutputLogFile(), c.expected);
  }
}

}  // namespace
}  // namespace qv
