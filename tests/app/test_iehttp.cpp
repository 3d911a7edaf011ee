#include "app/iehttp.h"

#include <gtest/gtest.h>

#include <random>

#include "app/iehttp_strings.h"
#include "platform/base/streams.h"
#include "platform/services/sys_error.h"
#include "tests/app/app_test_util.h"

namespace qv {
namespace {

std::string Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += kHex[static_cast<unsigned char>(c) >> 4];
    out += kHex[c & 0xF];
  }
  return out;
}

struct IEHTTPTest : ::testing::Test {
  TComponent form{nullptr};
  TIEHTTP* ie = Create<TIEHTTP>(&form);
};

TEST_F(IEHTTPTest, UrlIsCompletedCrackedAndEscaped) {
  const std::string longPath = "/" + std::string(5000, 'p');
  const std::string longQuery = "?" + std::string(3000, 'q') + "+" + std::string(3000, 'r');
  struct Case {
    std::string url, stored, host, path, extra;
  } const cases[] = {
      {"example.com", "http://example.com", "example.com", "/", ""},
      {"Example.com:8080/a b?x=1+2&y=a b#f", "http://Example.com:8080/a b?x=1+2&y=a b#f",
       "Example.com", "/a%20b", "?x=1%2B2&y=a%20b#f"},
      {"HTTPS://h/x+y#a+b", "HTTPS://h/x+y#a+b", "h", "/x+y", "#a+b"},
      // Far beyond the 2048 characters a fixed buffer would hold.
      {"h" + longPath + longQuery, "http://h" + longPath + longQuery, "h", longPath,
       "?" + std::string(3000, 'q') + "%2B" + std::string(3000, 'r')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url.substr(0, 40));
    ie->SetURL(c.url);
    EXPECT_EQ(ie->URL(), c.stored);
    EXPECT_EQ(ie->URLComponents().HostName, c.host);
    EXPECT_EQ(ie->URLComponents().UrlPath, c.path);
    EXPECT_EQ(ie->URLComponents().ExtraInfo, c.extra);
  }
  ie->SetURL("");
  EXPECT_EQ(ie->URL(), "");
  EXPECT_EQ(ie->URLComponents().HostName, "");
  EXPECT_EQ(ie->URLComponents().Port, 0);
}

TEST_F(IEHTTPTest, MalformedUrlRaisesWithCodeAndText) {
  const std::string invalid =
      "TIE: Invalid URL. Error - 12005 = " + SysErrorMessage(ERROR_INTERNET_INVALID_URL);
  const std::string scheme =
      "TIE: Invalid URL. Error - 12006 = " + SysErrorMessage(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  struct Case {
    std::string url, message;
  } const cases[] = {
      {"::::", invalid},         {"http://", invalid},
      {"h:99999/", invalid},     {"ho st/", invalid},
      {"http://[::1/", invalid}, {"h/a\tb", invalid},
      {"gopherx://h/", scheme},  {"h/" + std::string(9 << 20, 'x'), invalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url.substr(0, 40));
    ie->SetURL("http://good/");
    try {
      ie->SetURL(c.url);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(ie->URLComponents().HostName, "");  // nothing left of the previous URL
  }
}

TEST_F(IEHTTPTest, RequestMethodSetsContentType) {
  const std::string multipart =
      "multipart/form-data; boundary=-----------------------------7cf87224d2020a";
  const std::string form = "application/x-www-form-urlencoded";
  EXPECT_EQ(ie->RequestMethod(), "GET");
  EXPECT_EQ(ie->ContentType(), "");
  struct Step {
    std::string method;  // "" : switch MultipartPOST to `multipart`
    bool multipart;
    std::string expectMethod, expectType;
  } const steps[] = {
      {"post", false, "POST", form},     {"", true, "POST", multipart},
      {"put", true, "PUT", multipart},   {"Get", true, "GET", ""},
      {"POST", true, "POST", multipart}, {"", false, "POST", form},
      {"", true, "POST", multipart},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.method + (s.multipart ? " multipart" : ""));
    if (s.method.empty()) {
      ie->SetMultipartPOST(s.multipart);
    } else {
      ie->SetRequestMethod(s.method);
    }
    EXPECT_EQ(ie->MultipartPOST(), s.multipart);
    EXPECT_EQ(ie->RequestMethod(), s.expectMethod);
    EXPECT_EQ(ie->ContentType(), s.expectType);
  }
}

TEST_F(IEHTTPTest, MultipartVariablesNeedMultipartMode) {
  const test::ScratchDir dir;
  const std::string file = dir.File("data.bin");
  std::string bytes;
  for (int i = 0; i < 33; ++i) bytes += "\xFB\xFF\xFF";
  test::WriteText(file, bytes + "\xFB");
  const auto expectRefused = [&](const std::function<void()>& add) {
    try {
      add();
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "tIE not in multipart mode");
    }
  };
  expectRefused([&] { ie->AddMultipartVar("a", "1"); });
  expectRefused([&] { ie->AddMultipartFile("f", file); });  // the stream is freed all the same
  EXPECT_TRUE(ie->MultipartVars().empty());

  ie->SetMultipartPOST(true);
  ie->AddMultipartVar("a", "1");
  ie->AddMultipartFile("f", file);
  auto stream = std::make_unique<TMemoryStream>();
  stream->WriteBuffer("abc");
  ie->AddMultipartStream("s", std::move(stream));
  EXPECT_THROW(ie->AddMultipartFile("g", dir.File("missing")), EFOpenError);
  ASSERT_EQ(ie->MultipartVars().size(), 3u);
  EXPECT_EQ(ie->MultipartVars()[0].Value, "1");
  // 136 Base64 characters: a carriage return after the 64th and the 128th.
  std::string line;
  for (int i = 0; i < 16; ++i) line += "+///";
  EXPECT_EQ(ie->MultipartVars()[1].Name, "f");
  EXPECT_EQ(ie->MultipartVars()[1].Value, line + "\r" + line + "\r" + "+///+w==");
  EXPECT_EQ(ie->MultipartVars()[2].Value, "YWJj");
}

TEST(IEHTTPStringsTest, Base64AgreesWithPython) {
  EXPECT_EQ(Base64Encode("abc"), "YWJj");
  EXPECT_EQ(Base64Encode("a"), "YQ==");
  EXPECT_EQ(Base64Encode(""), "");
  std::mt19937 random(29);
  std::vector<std::string> inputs;
  std::string hexLines;
  for (int i = 0; i < 300; ++i) {
    std::string bytes(random() % 200, '\0');
    for (char& c : bytes) c = char(random());
    hexLines += Hex(bytes) + "\n";
    inputs.push_back(std::move(bytes));
  }
  const test::ScratchDir dir;
  test::WriteText(dir.File("in.txt"), hexLines);
  const test::ShellResult python = test::RunShellCommand(
      "/usr/bin/python3 -c 'import base64,sys\n"
      "for l in open(sys.argv[1]): print(base64.b64encode(bytes.fromhex(l.strip())).decode())' " +
      test::ShellQuote(dir.File("in.txt")));
  ASSERT_EQ(python.status, 0);
  std::string expected;
  for (const std::string& bytes : inputs) expected += Base64Encode(bytes) + "\n";
  EXPECT_EQ(python.output, expected);
}

TEST(IEHTTPStringsTest, ReplaceAllInPlace) {
  struct Case {
    std::string s, find, replacement, expected;
  } const cases[] = {
      {"a+b+c", "+", "%2B", "a%2Bb%2Bc"},
      {"xax", "a", "aa", "xaax"},  // the replacement holds what is sought
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
