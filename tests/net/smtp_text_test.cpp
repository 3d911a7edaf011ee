#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/smtpprot_text.h"

namespace qv::smtp {
namespace {

TEST(SmtpTextTest, HmacAnswersMatchTheRfcVectors) {
  // RFC 2202 test cases 2 and 6 (the latter with an 80-byte key, hashed first).
  EXPECT_EQ(HmacMd5Hex("Jefe", "what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738");
  EXPECT_EQ(
      HmacMd5Hex(std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First"),
      "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
  EXPECT_EQ(HmacSha1Hex("Jefe", "what do ya want for nothing?"),
            "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  // RFC 2195's CRAM-MD5 example.
  EXPECT_EQ(HmacMd5Hex("tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
            "b913a602c7eda7a495b4e6e7334d3890");
}

TEST(SmtpTextTest, TextLinesCannotEndTheMessage) {
  const struct {
    std::string line;
    std::vector<std::string> wire;
  } cases[] = {
      {".", {".."}},
      {"..x", {"...x"}},
      {"a.b", {"a.b"}},
      {"", {""}},
      {"one\r\n.\r\nMAIL FROM:<x>", {"one", "..", "MAIL FROM:<x>"}},
      {"a\nb\rc\r\n", {"a", "b", "c"}},
      {"x\r\n\r\ny", {"x", "", "y"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(DataWireLines(c.line), c.wire);
  }
  EXPECT_TRUE(HasLineBreak("a\rb"));
  EXPECT_TRUE(HasLineBreak(std::string("a\0b", 3)));
  EXPECT_FALSE(HasLineBreak("a b\t"));
}

}  // namespace
}  // namespace qv::smtp
