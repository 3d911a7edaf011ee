#include "net/sha1.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/net/oracle.h"

namespace qv {
namespace {

std::string Sha1Hex(const std::string& data) {
  SHA1Context c;
  EXPECT_EQ(SHA1Reset(c), shaSuccess);
  size_t pos = 0, step = 7;
  while (pos < data.size()) {
    const size_t n = std::min(step, data.size() - pos);
    EXPECT_EQ(SHA1Input(c, data.data() + pos, n), shaSuccess);
    pos += n;
    step = step * 2 + 3;
  }
  SHA1Digest d;
  EXPECT_EQ(SHA1Result(c, d), shaSuccess);
  return test::Hex(d);
}

std::string HmacHex(const std::string& data, const std::string& key) {
  SHA1Digest d;
  HMAC_SHA1(data.data(), data.size(), key.data(), d, key.size());
  return test::Hex(d);
}

TEST(Sha1Test, Fips180Vectors) {
  EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Sha1Hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha1Test, StatusCodes) {
  SHA1Context c;
  SHA1Reset(c);
  EXPECT_EQ(SHA1Input(c, nullptr, 5), shaNull);
  EXPECT_EQ(SHA1Input(c, nullptr, 0), shaSuccess);
  EXPECT_EQ(SHA1Input(c, "abc", 3), shaSuccess);
  SHA1Digest first;
  ASSERT_EQ(SHA1Result(c, first), shaSuccess);
  SHA1Digest again;
  EXPECT_EQ(SHA1Result(c, again), shaSuccess) << "a second result repeats the digest";
  EXPECT_EQ(again, first);
  // Input after the result corrupts the context; the next result gives no digest.
  EXPECT_EQ(SHA1Input(c, "x", 1), shaStateError);
  SHA1Digest none{};
  EXPECT_EQ(SHA1Result(c, none), shaStateError);
  EXPECT_EQ(none, SHA1Digest{});
}

TEST(Sha1Test, BitCountOverflowCorrupts) {
  SHA1Context c;
  SHA1Reset(c);
  c.Length_High = 0xFFFFFFFF;
  c.Length_Low = 0xFFFFFFF8;
  EXPECT_EQ(SHA1Input(c, "a", 1), shaNull);
  EXPECT_EQ(SHA1Input(c, "a", 1), shaNull);
  SHA1Digest d;
  EXPECT_EQ(SHA1Result(c, d), shaNull);
}

TEST(Sha1Test, HmacRfc2202Vectors) {
  EXPECT_EQ(HmacHex("Hi There", std::string(20, '\x0b')),
            "b617318655057264e28bc0b6fb378c8ef146be00");
  EXPECT_EQ(HmacHex("what do ya want for nothing?", "Jefe"),
            "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(
      HmacHex("Test Using Larger Than Block-Size Key - Hash Key First", std::string(80, '\xaa')),
      "aa4ae5e15272d00e95705637ce8a3b55ed402112");
}

TEST(Sha1Test, HmacWithLongKeyEqualsHmacWithItsDigest) {
  std::mt19937 rng(70);
  const std::string key = test::RandomBytes(rng, 70);
  SHA1Context c;
  SHA1Reset(c);
  SHA1Input(c, key.data(), key.size());
  SHA1Digest keyDigest;
  SHA1Result(c, keyDigest);
  const std::string data = "challenge";
  EXPECT_EQ(HmacHex(data, key),
            HmacHex(data, std::string(reinterpret_cast<const char*>(keyDigest.data()), 20)));
}

TEST(Sha1Test, AgreesWithSha1sumAndOpenssl) {
  test::TempDir dir;
  std::mt19937 rng(1801);
  std::vector<std::string> inputs, files;
  std::string fileList;
  for (size_t n : test::DigestSizes()) {
    inputs.push_back(test::RandomBytes(rng, n));
    files.push_back(dir.File("in" + std::to_string(inputs.size())));
    test::WriteFile(files.back(), inputs.back());
    fileList += " " + files.back();
  }
  {
    std::istringstream out(test::RunCommand("sha1sum" + fileList));
    for (const auto& in : inputs) {
      SCOPED_TRACE(in.size());
      std::string line;
      ASSERT_TRUE(std::getline(out, line));
      EXPECT_EQ(Sha1Hex(in), line.substr(0, 40));
    }
  }
  for (size_t keyLength : {0, 1, 20, 63, 64, 65, 70, 200}) {
    SCOPED_TRACE("key " + std::to_string(keyLength));
    const std::string key = test::RandomBytes(rng, keyLength);
    const std::string hexKey =
        test::Hex(reinterpret_cast<const unsigned char*>(key.data()), keyLength);
    // openssl refuses an empty hex key; an empty text key is the same key.
    const std::string mac = keyLength == 0 ? "-hmac ''" : "-mac HMAC -macopt hexkey:" + hexKey;
    std::istringstream out(test::RunCommand("openssl dgst -sha1 " + mac + fileList));
    for (const auto& in : inputs) {
      SCOPED_TRACE(in.size());
      std::string line;
      ASSERT_TRUE(std::getline(out, line));
      EXPECT_EQ(HmacHex(in, key), line.substr(line.rfind(' ') + 1));
    }
  }
}

}  // namespace
}  // namespace qv
