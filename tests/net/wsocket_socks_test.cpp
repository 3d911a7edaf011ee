#include "net/wsocket_socks.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SocksReplyTest, MethodAndAuthReplies) {
  struct Case {
    Bytes in;
    TSocksReply::Status status;
    int error;
    int method;
  };
  const Case method[] = {{{5}, TSocksReply::NeedMore, 0, 0},
                         {{5, 0}, TSocksReply::Done, 0, 0},
                         {{5, 2}, TSocksReply::Done, 0, 2},
                         {{5, 255}, TSocksReply::Failed, 20003, 0},
                         {{4, 0}, TSocksReply::Failed, 20002, 0}};
  for (const auto& c : method) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    const auto r = ParseSocksMethodReply(c.in);
    EXPECT_EQ(r.Result, c.status);
    EXPECT_EQ(r.Error, c.error);
    if (r.Result == TSocksReply::Done) {
      EXPECT_EQ(r.Method, c.method);
    }
  }
  EXPECT_EQ(ParseSocksMethodReply(Bytes{5, 255}).Msg, "authentification method not acceptable");
  const Case auth[] = {{{1, 0}, TSocksReply::Done, 0, 0},
                       {{1, 1}, TSocksReply::Failed, 20015, 0},
                       {{1, 0, 0}, TSocksReply::Failed, 20001, 0},
                       {{5, 0}, TSocksReply::Failed, 20002, 0}};
  for (const auto& c : auth) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    EXPECT_EQ(ParseSocksAuthReply(c.in).Result, c.status);
    EXPECT_EQ(ParseSocksAuthReply(c.in).Error, c.error);
  }
}

TEST(SocksReplyTest, Socks5ConnectReplies) {
  const Bytes ipv4 = {5, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90, 'x', 'y'};
  auto r = ParseSocks5ConnectReply(ipv4);
  ASSERT_EQ(r.Result, TSocksReply::Done);
  EXPECT_EQ(r.Length, 10u) << "bytes after the reply are data";
  EXPECT_EQ(r.BoundAddr, "127.0.0.1");
  EXPECT_EQ(r.BoundPort, "8080");

  Bytes name = {5, 0, 0, 3, 9, 'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't', 0, 80};
  for (std::size_t n = 1; n < name.size(); ++n) {
    EXPECT_EQ(ParseSocks5ConnectReply(std::span(name.data(), n)).Result, TSocksReply::NeedMore)
        << n;
  }
  r = ParseSocks5ConnectReply(name);
  ASSERT_EQ(r.Result, TSocksReply::Done);
  EXPECT_EQ(r.Length, 16u);
  EXPECT_EQ(r.BoundAddr, "localhost");

  // A 255-byte bound name needs 262 bytes and completes.
  Bytes longName = {5, 0, 0, 3, 255};
  longName.resize(5 + 255, 'n');
  longName.insert(longName.end(), {0, 1});
  r = ParseSocks5ConnectReply(longName);
  ASSERT_EQ(r.Result, TSocksReply::Done);
  EXPECT_EQ(r.Length, kSocksMaxReply);

  Bytes ipv6 = {5, 0, 0, 4};
  ipv6.resize(4 + 15, 0);
  ipv6.push_back(1);
  ipv6.insert(ipv6.end(), {0, 21});
  r = ParseSocks5ConnectReply(ipv6);
  ASSERT_EQ(r.Result, TSocksReply::Done) << "an IPv6 bound address does not fail the connection";
  EXPECT_EQ(r.BoundAddr, "::1");
  EXPECT_EQ(r.BoundPort, "21");

  const std::pair<Bytes, int> errors[] = {{{5, 1}, 20004},         {{5, 2}, 20005}, {{5, 5}, 20008},
                                          {{5, 8}, 20011},         {{5, 9}, 20012}, {{4, 0}, 20002},
                                          {{5, 0, 0, 7, 0}, 20011}};
  for (const auto& [in, code] : errors) {
    SCOPED_TRACE(testing::PrintToString(in));
    r = ParseSocks5ConnectReply(in);
    EXPECT_EQ(r.Result, TSocksReply::Failed);
    EXPECT_EQ(r.Error, code);
  }
  EXPECT_EQ(ParseSocks5ConnectReply(Bytes{5, 5}).Msg, "connection refused");
  EXPECT_EQ(ParseSocks5ConnectReply(Bytes{5, 9}).Msg, "unassigned error #9");
}

}  // namespace
}  // namespace qv
