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
