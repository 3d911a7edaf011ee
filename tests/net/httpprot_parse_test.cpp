#include "net/httpprot_parse.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(HttpParseTest, HeaderFieldsAndNumbers) {
  std::string name, value;
  ASSERT_TRUE(SplitHeaderField("Content-Type:   Text/HTML", name, value));
  EXPECT_EQ(name, "content-type");
  EXPECT_EQ(value, "Text/HTML");
  ASSERT_TRUE(SplitHeaderField("Location: http://h:1/x", name, value));
  EXPECT_EQ(value, "http://h:1/x") << "only the first colon splits";
  EXPECT_FALSE(SplitHeaderField("no colon here", name, value));

  const std::pair<std::string, std::int64_t> lengths[] = {
      {" 5 ", 5}, {"0", 0},   {"4294967296", 4294967296LL},   {"", -1},
      {"-5", -1}, {"5x", -1}, {"99999999999999999999999", -1}};
  for (const auto& [text, n] : lengths) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseContentLength(text), n);
  }
  std::string b, e;
  ParseContentRange("bytes 1-3/5", b, e);
  EXPECT_EQ(b, "1");
  EXPECT_EQ(e, "3");
  ParseContentRange("bytes", b, e);
  EXPECT_TRUE(b.empty() && e.empty());
}

struct Decoded {
  THttpChunkDecoder::TResult result = THttpChunkDecoder::Continue;
  std::string body;
  std::size_t consumed = 0;
};

// Feeds the text in pieces of `step` bytes, as a socket would deliver it.
Decoded Decode(const std::string& text, std::size_t step) {
  THttpChunkDecoder d;
  Decoded out;
  std::size_t pos = 0;
  while (pos < text.size() && out.result == THttpChunkDecoder::Continue) {
    const std::size_t n = std::min(step, text.size() - pos);
    std::size_t used = 0;
    out.result = d.Feed(text.data() + pos, n, used,
                        [&](const char* p, std::size_t len) { out.body.append(p, len); });
    pos += used;
    if (out.result == THttpChunkDecoder::Continue) {
      EXPECT_EQ(used, n);
    }
  }
  out.consumed = pos;
  return out;
}

TEST(HttpParseTest, ChunkedBodies) {
  struct Case {
    std::string text;
    THttpChunkDecoder::TResult result;
    std::string body;
    std::string rest;  // bytes left after the body for the next response
  };
  const Case cases[] = {
      {"5\r\nabcde\r\n0\r\n\r\n", THttpChunkDecoder::Complete, "abcde", ""},
      {"6\r\npart1-\r\n6\r\npart2\n\r\n0\r\n\r\nHTTP/1.1", THttpChunkDecoder::Complete,
       "part1-part2\n", "HTTP/1.1"},
      {"A;ext=1\r\n0123456789\r\n0\r\n\r\n", THttpChunkDecoder::Complete, "0123456789", ""},
      // Trailer lines are read through the empty line and do not leak into what follows.
      {"3\r\nabc\r\n0\r\nX-Sum: 1\r\nY: 2\r\n\r\nNEXT", THttpChunkDecoder::Complete, "abc", "NEXT"},
      {"3\nabc\n0\n\nNEXT", THttpChunkDecoder::Complete, "abc", "NEXT"},
      {"5\r\nabc", THttpChunkDecoder::Continue, "abc", ""},
      // A size that overflows is refused, not wrapped to a negative count.
      {"FFFFFFFFFFFFFFFFF\r\nabc", THttpChunkDecoder::Error, "", ""},
      {"80000000\r\n", THttpChunkDecoder::Error, "", ""},
      {"\r\n\r\n", THttpChunkDecoder::Error, "", ""},
      {"zz\r\n", THttpChunkDecoder::Error, "", ""}};
  for (const auto& c : cases) {
    for (std::size_t step : {std::size_t(1), std::size_t(2), std::size_t(7), c.text.size() + 1}) {
      SCOPED_TRACE(c.text + " step " + std::to_string(step));
      const Decoded d = Decode(c.text, step);
      EXPECT_EQ(d.result, c.result);
      EXPECT_EQ(d.body, c.body);
      if (c.result == THttpChunkDecoder::Complete) {
        EXPECT_EQ(c.text.substr(d.consumed), c.rest);
      }
    }
  }
}

}  // namespace
}  // namespace qv
