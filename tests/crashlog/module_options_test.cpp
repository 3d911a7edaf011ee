#include "crashlog/module_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(ModuleOptionsTest, DefaultStreamIsTheDocumentedLayout) {
  const std::vector<uint8_t> saved = Saved(TOstrelModuleOptions());
  const std::vector<uint8_t> head = DefaultHead().data;
  ASSERT_GT(saved.size(), head.size());
  EXPECT_EQ(std::vector<uint8_t>(saved.begin(), saved.begin() + head.size()), head);
  // The texts follow, the inner line break of text 3 kept, and nothing after them.
  Bytes texts;
  texts.S("Information.").S("Question.").S("Error.");
  texts.S(
      "An error has occurred during program execution.\r\nPlease read the following "
      "information for further details.");
  const std::size_t at = head.size();
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + at, saved.begin() + at + texts.data.size()),
            texts.data);
  std::size_t pos = at;
  int count = 0;
  std::string last;
  while (pos + 4 <= saved.size()) {
    const uint32_t n =
        saved[pos] | saved[pos + 1] << 8 | saved[pos + 2] << 16 | saved[pos + 3] << 24;
    last.clear();
    for (uint32_t i = 0; i < n; ++i) last += char(saved[pos + 4 + i] ^ 0xA7);
    pos += 4 + n;
    ++count;
  }
  EXPECT_EQ(pos, saved.size());
  EXPECT_EQ(count, 71);
  EXPECT_EQ(last, "Memory Dump");
}

TEST(ModuleOptionsTest, SaveAndLoadGiveBackTheValues) {
  TOstrelModuleOptions a;
  a.SetEMailFrom("from@example.org");
  a.SetSMTPHost("127.0.0.1");
  a.SetSMTPUserID("user");
  a.SetSMTPPassword("p\xA7ss\x00w"s);
  a.SetSMTPPort(2525);
  a.SetRestartAfterTerminate(false);
  a.SetFreezeActivate(true);
  a.SetFreezeTimeout(7);
  a.SetFreezeMessage("Frozen.");
  a.SetCustomDialogLook(false);
  a.SetLogSections(0x00001E05);
  a.SetFiltersActive(false);
  a.SetShowExceptionDialog(false);
  a.SetAppendLogInBody(true);
  a.SetAttachScreenshot(true);
  a.SetShowSendProgress(false);
  a.SetTerminateButtonLimit(false);
  a.SetSaveLogFile(false);
  a.SetSendWholeLog(true);
  a.SetLogOptions(loNoDuplicateErrors | loAskReproduceSteps);
  a.SetDetailsPage(3);
  a.SetErrorsNumberToSave(5);
  a.SetTerminateButtonErrors(9);
  a.SetOutputPath("/var/log/q.olf");
  a.SetEMailAddresses("a@x; b@y");
  a.SetEMailSubject("Crash");
  a.SetEMailMessage("Line one\r\nline two\r\n");
  a.SetSendWay(swSMTPServer);
  a.SetTexts(70, "Dump");
  TOstrelModuleOptions b;
  b.SetActivateLog(false);  // not part of the stream: loading leaves it
  Load(b, Saved(a), OstrelCurrentDataVersion);
  EXPECT_EQ(Saved(b), Saved(a));
  EXPECT_EQ(b.SMTPPassword(), a.SMTPPassword());
  EXPECT_EQ(b.SendWay(), swSMTPServer);
  EXPECT_EQ(b.LogSections(), 0x00001E05u);
  EXPECT_FALSE(b.ActivateLog());
  EXPECT_TRUE(b.FreezeActivate());
  EXPECT_EQ(b.EMailMessage(), "Line one\r\nline two\r\n");
  EXPECT_EQ(b.Texts(70), "Dump");
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

TEST(ModuleOptionsTest, AssignCopiesAndRefusesNothing) {
  TOstrelModuleOptions a, b;
  a.SetSMTPHost("mail");
  a.SetTexts(0, "Info");
  b.Assign(&a);
  EXPECT_EQ(Saved(b), Saved(a));
  try {
    b.Assign(nullptr);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Impossible to assign nil as TOstrelModuleOptions.");
  }
  b.SetDefaults();
  EXPECT_EQ(Saved(b), Saved(TOstrelModuleOptions()));
}

TEST(ModuleOptionsTest, ErrorsNumberToSaveIsAtLeastOne) {
  TOstrelModuleOptions a;
  for (const int32_t value : {0, -4}) {
    a.SetErrorsNumberToSave(value);
    EXPECT_EQ(a.ErrorsNumberToSave(), 1);
  }
  std::vector<uint8_t> bytes = Saved(TOstrelModuleOptions());
  // Item 22 sits after the fixed part and the five strings of the default set.
  const std::size_t at = 16 + 4 + 35 + 4 + 18 + 4 + 2 + 4 + 4 + 2;
  ASSERT_EQ(bytes[at], 32);
  bytes[at] = 0;
  Load(a, bytes, OstrelCurrentDataVersion);
  EXPECT_EQ(a.ErrorsNumberToSave(), 1);
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
