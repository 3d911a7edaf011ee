#include "app/iehttp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "app/iehttp_strings.h"
#include "platform/base/streams.h"
#include "platform/services/sys_error.h"
#include "tests/app/app_test_util.h"

namespace qv {
namespace {

struct IEHTTPTest : ::testing::Test {
  // The message of what `action` raises, "" when it raises nothing.
  static std::string Raised(const std::function<void()>& action) {
    try {
      action();
    } catch (const Exception& e) {
      return e.Message();
    }
    return "";
  }
  TComponent form{nullptr};
  TIEHTTP* ie = Create<TIEHTTP>(&form);
};

TEST_F(IEHTTPTest, UrlIsCompletedCrackedOrRefused) {
  const std::string path = "/" + std::string(5000, 'p');  // far beyond 2048 characters
  const std::string query = std::string(3000, 'q') + "+" + std::string(3000, 'r');
  const std::string invalid = "TIE: Invalid URL. Error - 12005 = The URL is not valid.";
  struct Case {
    std::string url, stored, parts, error;
  } const cases[] = {
      {"example.com", "http://example.com", "example.com|/|", ""},
      {"Ex.com:8080/a b?x=1+2&y=a b#f+", "http://Ex.com:8080/a b?x=1+2&y=a b#f+",
       "Ex.com|/a%20b|?x=1%2B2&y=a%20b#f+", ""},
      {"h" + path + "?" + query, "http://h" + path + "?" + query,
       "h|" + path + "|?" + std::string(3000, 'q') + "%2B" + std::string(3000, 'r'), ""},
      {"::::", "http://::::", "||", invalid},
      {"h/a\tb", "http://h/a\tb", "||", invalid},
      {"h/" + std::string(9 << 20, 'x'), "http://h/" + std::string(9 << 20, 'x'), "||", invalid},
      {"gopherx://h/", "gopherx://h/", "||",
       "TIE: Invalid URL. Error - 12006 = " + SysErrorMessage(ERROR_INTERNET_UNRECOGNIZED_SCHEME)},
      {"", "", "||", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url.substr(0, 40));
    ie->SetURL("http://previous/x?y");
    EXPECT_EQ(Raised([&] { ie->SetURL(c.url); }), c.error);
    const TURLComponents& parts = ie->URLComponents();
    EXPECT_EQ(ie->URL(), c.stored);
    EXPECT_EQ(parts.HostName + "|" + parts.UrlPath + "|" + parts.ExtraInfo, c.parts);
  }
}

TEST_F(IEHTTPTest, RequestMethodAndMultipartSetTheContentType) {
  const std::string multipart =
      "multipart/form-data; boundary=-----------------------------7cf87224d2020a";
  const std::string form = "application/x-www-form-urlencoded";
  EXPECT_EQ(ie->RequestMethod() + "|" + ie->ContentType(), "GET|");
  // The request side a sent request would use: its agent name and receive buffer.
  EXPECT_EQ(ie->AgentName(), "tiehttp");
  EXPECT_EQ(ie->ReceiveBufferSize(), 4096u);
  // A step sets the method, or switches MultipartPOST on ("+") or off ("-").
  const std::pair<std::string, std::string> steps[] = {{"post", "POST|" + form},
                                                       {"+", "POST|" + multipart},
                                                       {"put", "PUT|" + multipart},
                                                       {"Get", "GET|"},
                                                       {"-", "GET|"},
                                                       {"+", "POST|" + multipart},
                                                       {"-", "POST|" + form}};
  for (const auto& [step, expected] : steps) {
    SCOPED_TRACE(step);
    if (step == "+" || step == "-") {
      ie->SetMultipartPOST(step == "+");
      EXPECT_EQ(ie->MultipartPOST(), step == "+");
    } else {
      ie->SetRequestMethod(step);
    }
    EXPECT_EQ(ie->RequestMethod() + "|" + ie->ContentType(), expected);
  }
}

TEST_F(IEHTTPTest, MultipartVariablesNeedMultipartMode) {
  const test::ScratchDir dir;
  std::string bytes, line;
  for (int i = 0; i < 33; ++i) bytes += "\xFB\xFF\xFF";  // "+///" in Base64
  for (int i = 0; i < 16; ++i) line += "+///";
  test::WriteText(dir.File("data.bin"), bytes + "\xFB");
  const std::string refused = "tIE not in multipart mode";
  EXPECT_EQ(Raised([&] { ie->AddMultipartVar("a", "1"); }), refused);
  // The stream is freed all the same (the sanitizer checks).
  EXPECT_EQ(Raised([&] { ie->AddMultipartFile("f", dir.File("data.bin")); }), refused);
  EXPECT_TRUE(ie->MultipartVars().empty());

  ie->SetMultipartPOST(true);
  ie->AddMultipartVar("a", "1");
  ie->AddMultipartFile("f", dir.File("data.bin"));
  auto stream = std::make_unique<TMemoryStream>();
  stream->WriteBuffer("abc");
  ie->AddMultipartStream("s", std::move(stream));
  EXPECT_THROW(ie->AddMultipartFile("g", dir.File("missing")), EFOpenError);
  std::string all;
  for (const TMultipartVar& v : ie->MultipartVars()) all += v.Name + "=" + v.Value + ";";
  // 136 Base64 characters: a carriage return after the 64th and after the 128th.
  EXPECT_EQ(all, "a=1;f=" + line + "\r" + line + "\r+///+w==;s=YWJj;");
}

TEST(IEHTTPStringsTest, Base64AgreesWithPython) {
  EXPECT_EQ(Base64Encode("abc"), "YWJj");
  EXPECT_EQ(Base64Encode("a"), "YQ==");
  std::mt19937 random(29);
  std::string hexLines, expected;
  for (int i = 0; i < 300; ++i) {
    std::string bytes(random() % 200, '\0');
    for (char& c : bytes) c = char(random());
    for (const char c : bytes) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", unsigned(static_cast<unsigned char>(c)));
      hexLines += hex;
    }
    hexLines += "\n";
    expected += Base64Encode(bytes) + "\n";
  }
  const test::ScratchDir dir;
  test::WriteText(dir.File("in.txt"), hexLines);
  const test::ShellResult python = test::RunShellCommand(
      "/usr/bin/python3 -c 'import base64,sys\n"
      "for l in open(sys.argv[1]): print(base64.b64encode(bytes.fromhex(l.strip())).decode())' " +
      test::ShellQuote(dir.File("in.txt")));
  ASSERT_EQ(python.status, 0);
  EXPECT_EQ(python.output, expected);
}

TEST(IEHTTPStringsTest, ReplaceAllInPlace) {
  struct Case {
    std::string s, find, replacement, expected;
  } const cases[] = {
      {"a+b+c", "+", "%2B", "a%2Bb%2Bc"},
      {"xax", "a", "aa", "xaax"},
      {"aaa", "aa", "b", "ba"},
      {"", "a", "b", ""},
      {"abc", "", "z", "abc"},
      {"a\x19"
       "b",
       "b", "c",
       "a\x19"
       "c"},  // a control character in the text survives
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.s + "/" + c.find);
    ReplaceAll(c.s, c.find, c.replacement);
    EXPECT_EQ(c.s, c.expected);
  }
}

}  // namespace
}  // namespace qv
